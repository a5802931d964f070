// platform/MainLoop.cpp
#include "platform/MainLoop.h"

#include <exception>
#include <future>

namespace platform {

MainLoop::MainLoop() : m_thread(std::this_thread::get_id())
{
    m_previous = setMainThreadLoop(this);
}

MainLoop::~MainLoop()
{
    setMainThreadLoop(m_previous);
}

bool MainLoop::isLoopThread() const
{
    return std::this_thread::get_id() == m_thread;
}

void MainLoop::runAndWait(const std::function<void()>& work)
{
    std::promise<void> done;
    std::future<void> ran = done.get_future();
    post([&work, &done] {
        try {
            work();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    ran.get();
}

void MainLoop::post(std::function<void()> work)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(work));
    }
    m_arrived.notify_one();
}

void MainLoop::serveFor(int ms)
{
    serveUntil(Clock::now() + std::chrono::milliseconds(ms));
}

void MainLoop::serveUntil(Clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_arrived.wait_until(lock, deadline, [this] { return !m_queue.empty(); })) {
        std::function<void()> work = std::move(m_queue.front());
        m_queue.pop_front();
        // Unlocked while it runs: the work may hand over more, and the waiting caller is
        // released from inside it.
        lock.unlock();
        work();
        if (Clock::now() >= deadline)
            return;
        lock.lock();
    }
}

} // namespace platform
