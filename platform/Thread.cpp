// platform/Thread.cpp: POSIX threads; std::thread cannot set a stack size.
#include "platform/ThreadOs.h"

namespace platform::os {

namespace {

void* run(void* arg)
{
    auto* body = static_cast<std::function<void()>*>(arg);
    (*body)();
    return nullptr;
}

} // namespace

bool launchThread(std::function<void()>* body, std::size_t stackBytes, ThreadId* id)
{
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    if (stackBytes > 0)
        pthread_attr_setstacksize(&attr, stackBytes);
    int rc = pthread_create(id, &attr, run, body);
    pthread_attr_destroy(&attr);
    return rc == 0;
}

void joinThread(ThreadId id)
{
    pthread_join(id, nullptr);
}

} // namespace platform::os
