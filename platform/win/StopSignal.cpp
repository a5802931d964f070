// platform/win/StopSignal.cpp: the console's control events as the stop flag.
#include "platform/StopSignal.h"

#include <windows.h>

namespace platform {

namespace {

std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler needs a lock-free flag");

// How long the handler holds on after a close, logoff or shutdown while main winds down.
constexpr DWORD kWindDownMs = 20000;

// Runs on a thread the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        g_stop = true;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // For these the system ends the process as soon as the handler returns (and at the
        // latest after its own limit, some seconds), so the handler waits here: main returns,
        // the process exits, and this thread ends with it.
        g_stop = true;
        ::Sleep(kWindDownMs);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void installStopSignals()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
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
