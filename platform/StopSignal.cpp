// platform/StopSignal.cpp
#include "platform/StopSignal.h"

#include <csignal>

namespace platform {

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
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

void raiseStopSignal()
{
    g_stop = true;
}

const std::atomic<bool>& stopSignal()
{
    return g_stop;
}

} // namespace platform
