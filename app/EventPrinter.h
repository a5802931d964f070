// app/EventPrinter.h: the headless console's event lines on standard output. A stream that can
// no longer be written (a pipe whose reader has gone, as with "| head -1") ends the printing,
// never the gateway.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace app {

class EventPrinter
{
public:
    // out stays open for the printer's life; told, once, why printing stopped.
    explicit EventPrinter(std::FILE* out, std::function<void(const std::string&)> onStopped = {});

    // Main thread. Writes the line and flushes it. False once the stream has failed; every
    // later line is then dropped without trying (the process ignores SIGPIPE).
    bool print(const std::string& line);

    bool stopped() const { return m_stopped; }

private:
    std::FILE* m_out;
    std::function<void(const std::string&)> m_onStopped;
    bool m_stopped = false;
};

} // namespace app
