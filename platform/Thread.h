// platform/Thread.h: threads with a chosen stack size.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

// A joinable thread. The stack size matters where thousands of connection threads live at once.
class Thread
{
public:
    Thread();
    ~Thread(); // joins when still joinable
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts body on a new thread with stackBytes of stack (0 = the system default).
    // False when the system refused a thread.
    bool start(std::function<void()> body, std::size_t stackBytes = 0);

    bool joinable() const { return m_started; }
    void join();

private:
    struct Native;
    std::unique_ptr<Native> m_native;
    bool m_started = false;
};

} // namespace platform
