// platform/MainThread.cpp
#include "platform/MainThread.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {

namespace {

std::atomic<MainThreadLoop*> g_loop{nullptr};

} // namespace

MainThreadLoop* setMainThreadLoop(MainThreadLoop* loop)
{
    return g_loop.exchange(loop);
}

void runOnMainThreadAndWait(const std::function<void()>& work)
{
    MainThreadLoop* loop = g_loop.load();
    if (loop == nullptr || loop->isLoopThread())
        work();
    else
        loop->runAndWait(work);
}

void postToMainThread(std::function<void()> work)
{
    MainThreadLoop* loop = g_loop.load();
    if (loop == nullptr || loop->isLoopThread())
        work();
    else
        loop->post(std::move(work));
}

void serveMainThreadFor(int ms)
{
    if (MainThreadLoop* loop = g_loop.load())
        loop->serveFor(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace platform
