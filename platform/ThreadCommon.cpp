// platform/ThreadCommon.cpp: a thread's life, the same on every system, over the start and join
// in platform/ThreadOs.h.
#include "platform/Thread.h"

#include "platform/ThreadOs.h"

namespace platform {

struct Thread::Native
{
    os::ThreadId id{};
    std::function<void()> body; // lives until the thread is joined
};

Thread::Thread() = default;

Thread::~Thread()
{
    if (m_started)
        join();
}

bool Thread::start(std::function<void()> body, std::size_t stackBytes)
{
    if (m_started)
        return false;
    m_native = std::make_unique<Native>();
    m_native->body = std::move(body);
    m_started = os::launchThread(&m_native->body, stackBytes, &m_native->id);
    return m_started;
}

void Thread::join()
{
    if (!m_started)
        return;
    os::joinThread(m_native->id);
    m_started = false;
}

} // namespace platform
