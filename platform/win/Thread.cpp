// platform/win/Thread.cpp: Windows threads; std::thread cannot set a stack size.
#include "platform/ThreadOs.h"

#include <process.h>
#include <windows.h>

#include <cstdint>
#include <type_traits>

namespace platform::os {

static_assert(std::is_same_v<ThreadId, HANDLE>, "ThreadId must hold a HANDLE");

namespace {

unsigned __stdcall run(void* arg)
{
    auto* body = static_cast<std::function<void()>*>(arg);
    (*body)();
    return 0;
}

} // namespace

bool launchThread(std::function<void()>* body, std::size_t stackBytes, ThreadId* id)
{
    // _beginthreadex rather than CreateThread, so the C runtime is set up for the thread. The size
    // is what the thread may grow to (reserved), not what it takes at once.
    std::uintptr_t h = ::_beginthreadex(nullptr, static_cast<unsigned>(stackBytes), run, body,
                                        STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    *id = reinterpret_cast<HANDLE>(h);
    return h != 0;
}

void joinThread(ThreadId id)
{
    ::WaitForSingleObject(id, INFINITE);
    ::CloseHandle(id);
}

} // namespace platform::os
