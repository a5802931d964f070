// platform/ThreadOs.h: how each system starts and joins a thread, private to the platform layer:
// Thread.cpp has it for POSIX, win/Thread.cpp for Windows, and ThreadCommon.cpp keeps
// platform::Thread's life over it once for both.
#pragma once

#include <cstddef>
#include <functional>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace platform::os {

#ifdef _WIN32
using ThreadId = void*; // the thread's HANDLE
#else
using ThreadId = pthread_t;
#endif

// Runs *body on a new thread with stackBytes of stack (0 = the system default); *body must
// outlive the thread. False when the system refused a thread.
bool launchThread(std::function<void()>* body, std::size_t stackBytes, ThreadId* id);

// Waits until the thread has ended and frees what the system keeps for it.
void joinThread(ThreadId id);

} // namespace platform::os
