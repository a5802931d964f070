// platform/win/Thread.cpp: Windows threads; std::thread cannot set a stack size.
#include "platform/Thread.h"

#include <process.h>
#include <windows.h>

namespace platform {

struct Thread::Native
{
    HANDLE handle = nullptr;
    std::function<void()> body;
};

namespace {

unsigned __stdcall run(void* arg)
{
    auto* body = static_cast<std::function<void()>*>(arg);
    (*body)();
    return 0;
}

} // namespace

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
    // _beginthreadex rather than CreateThread, so the C runtime is set up for the thread. The size
    // is what the thread may grow to (reserved), not what it takes at once.
    std::uintptr_t h =
        ::_beginthreadex(nullptr, static_cast<unsigned>(stackBytes), run, &m_native->body,
                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    m_native->handle = reinterpret_cast<HANDLE>(h);
    m_started = h != 0;
    return m_started;
}

void Thread::join()
{
    if (!m_started)
        return;
    ::WaitForSingleObject(m_native->handle, INFINITE);
    ::CloseHandle(m_native->handle);
    m_started = false;
}

} // namespace platform
