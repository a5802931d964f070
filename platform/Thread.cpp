// platform/Thread.cpp: POSIX threads; std::thread cannot set a stack size.
#include "platform/Thread.h"

#include <pthread.h>

namespace platform {

struct Thread::Native
{
    pthread_t id{};
    std::function<void()> body;
};

namespace {

void* run(void* arg)
{
    auto* native = static_cast<std::function<void()>*>(arg);
    (*native)();
    return nullptr;
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
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    if (stackBytes > 0)
        pthread_attr_setstacksize(&attr, stackBytes);
    int rc = pthread_create(&m_native->id, &attr, run, &m_native->body);
    pthread_attr_destroy(&attr);
    m_started = rc == 0;
    return m_started;
}

void Thread::join()
{
    if (!m_started)
        return;
    pthread_join(m_native->id, nullptr);
    m_started = false;
}

} // namespace platform
