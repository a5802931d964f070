// platform/MainLoop.h: the main thread's loop where there is no window (and no Qt): work handed
// over from other threads waits in a queue until the loop's thread serves it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/MainThread.h"

namespace platform {

class MainLoop final : public MainThreadLoop
{
public:
    using Clock = std::chrono::steady_clock;

    // On the thread that is to serve it, before other threads hand work over: installs itself as
    // the main-thread loop (setMainThreadLoop) while it lives. No thread may be waiting in
    // runAndWait when it is destroyed; work still queued then is dropped.
    MainLoop();
    ~MainLoop() override;
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;

    bool isLoopThread() const override;
    // Work that throws passes the exception on to the waiting caller.
    void runAndWait(const std::function<void()>& work) override;
    void post(std::function<void()> work) override;
    void serveFor(int ms) override;

    // The loop's thread. Runs hand-overs in the order they arrive until the deadline, then
    // returns; one already queued runs even when the deadline has passed.
    void serveUntil(Clock::time_point deadline);

private:
    const std::thread::id m_thread;
    MainThreadLoop* m_previous = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::deque<std::function<void()>> m_queue; // guarded by m_mutex
};

} // namespace platform
