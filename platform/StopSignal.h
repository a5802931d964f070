// platform/StopSignal.h: the signals that ask a program to stop in order, as one flag its loops
// poll. Used by the gateway and the tools alike.
#pragma once

#include <atomic>

namespace platform {

// Installs the handlers, main thread, once, before any other thread starts: SIGINT, SIGTERM and
// SIGHUP raise the flag (without SA_RESTART, so blocking calls return early); SIGPIPE and
// SIGXFSZ are ignored, so a closed standard output, a peer gone mid-send or a file grown to the
// file size limit shows as a failed write instead of ending the process.
// On Windows the console's events raise it instead: Ctrl-C, Ctrl-Break, the console window
// closed, the user logging off and the system shutting down. For the last three the system ends
// the process soon after, whatever it is doing: main has a few seconds to wind down.
void installStopSignals();

// Any thread. Raises the flag as those do: for a stop request that comes another way (the
// Windows service control manager's).
void raiseStopSignal();

// Raised by any of those; never lowered.
const std::atomic<bool>& stopSignal();

} // namespace platform
