// tools/common/StopSignal.cpp
#include "tools/common/StopSignal.h"

#include <csignal>

namespace tools {

namespace {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

void onSignal(int)
{
    g_stop = true;
}

} // namespace

void installStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

const std::atomic<bool>& stopSignal()
{
    return g_stop;
}

} // namespace tools
