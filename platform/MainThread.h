// platform/MainThread.h: handing work to the thread that runs the application's loop (the
// window's Qt event loop, or a MainLoop when there is no window), from any other thread.
#pragma once

#include <functional>

namespace platform {

// The loop of the main thread, as the hand-over functions below reach it.
class MainThreadLoop
{
public:
    virtual ~MainThreadLoop() = default;

    // Any thread. Whether the caller is the thread that runs this loop.
    virtual bool isLoopThread() const = 0;

    // Another thread. Queues work and returns once the loop's thread has run it.
    virtual void runAndWait(const std::function<void()>& work) = 0;

    // Another thread. Queues work and returns at once.
    virtual void post(std::function<void()> work) = 0;

    // The loop's thread. Runs what is handed over within ms milliseconds.
    virtual void serveFor(int ms) = 0;
};

// Main thread, before other threads hand work over. Makes loop the one the functions below
// reach (null: none); the loop outlives its installation. Returns the one installed before.
MainThreadLoop* setMainThreadLoop(MainThreadLoop* loop);

// Runs work on the main thread and returns once it has run. On the main thread itself, or with
// no loop installed, it runs at once. The main thread must be serving its loop (running it, or
// waiting in serveMainThreadFor) for a call from another thread to complete.
void runOnMainThreadAndWait(const std::function<void()>& work);

// Queues work to run on the main thread and returns at once. On the main thread itself, or with
// no loop installed, it runs at once.
void postToMainThread(std::function<void()> work);

// Main thread. Runs the hand-overs that arrive within ms milliseconds; with no loop installed it
// only waits.
void serveMainThreadFor(int ms);

} // namespace platform
