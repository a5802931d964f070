// tools/gt20sim/Simulation.h: a whole run: a session and a thread per tracker, the run's end and
// its totals.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "tools/gt20sim/AckedLog.h"
#include "tools/gt20sim/RunStats.h"
#include "tools/gt20sim/SimOptions.h"
#include "tools/gt20sim/TrackerSession.h"

namespace gt20sim {

// A run in which no tracker has connected by then gives up.
inline constexpr double kFirstConnectLimitMs = 10000;
// Slack for a counted run beyond its planned time, before it is cut off.
inline constexpr double kCountGraceMs = 10000;
// Limit on one connect attempt.
inline constexpr int kConnectWaitMs = 3000;

struct RunLimits
{
    double deadlineMs = 0; // the run is cut off here
    double firstConnectLimitMs = kFirstConnectLimitMs;
};

// The deadline is the duration, or for a counted run the time every packet would take if each
// waited out its acknowledgement, plus the start stagger and some slack.
RunLimits runLimits(const SimOptions& options);

enum class RunEnd
{
    Running,
    AllDone,
    TimeUp,
    NoConnection,
    Stopped
};

RunEnd checkRunEnd(const RunLimits& limits, double elapsedMs, bool anyConnected, bool allDone,
                   bool stopRequested);

// One plan per tracker: IMEIs counting up from the base, a seed each, the starts spread over the
// first interval so that the trackers do not all send at the same moment.
std::vector<TrackerPlan> makePlans(const SimOptions& options, std::uint64_t seed,
                                   std::uint32_t startTime);

// Runs the trackers of the options against the gateway until the run ends or stop is raised.
// acked (may be null) receives the acknowledged records. chatter gets per-event lines from any
// thread (serialised by the caller) or is empty.
Totals runSimulation(const SimOptions& options, std::uint64_t seed, AckedLog* acked,
                     const std::atomic<bool>& stop, const TrackerSession::Chatter& chatter = {});

} // namespace gt20sim
