// app/EventPrinter.cpp
#include "app/EventPrinter.h"

#include <cerrno>
#include <cstring>

namespace app {

EventPrinter::EventPrinter(std::FILE* out, std::function<void(const std::string&)> onStopped)
    : m_out(out), m_onStopped(std::move(onStopped))
{
}

bool EventPrinter::print(const std::string& line)
{
    if (m_stopped)
        return false;
    errno = 0;
    bool ok = std::fputs(line.c_str(), m_out) >= 0 && std::fputc('\n', m_out) != EOF &&
              std::fflush(m_out) == 0;
    if (ok)
        return true;
    m_stopped = true;
    if (m_onStopped)
        m_onStopped(std::string("standard output cannot be written (") +
                    (errno != 0 ? std::strerror(errno) : "write error") +
                    "); link events are no longer printed there");
    return false;
}

} // namespace app
