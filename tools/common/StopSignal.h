// tools/common/StopSignal.h: SIGINT and SIGTERM raise a flag that the tools' loops poll.
#pragma once

#include <atomic>

namespace tools {

// Installs the handlers (without SA_RESTART, so blocking calls return early). Main thread, once.
void installStopSignals();

// Raised by either signal; never lowered.
const std::atomic<bool>& stopSignal();

} // namespace tools
