// tools/gt20sim/Simulation.cpp
#include "tools/gt20sim/Simulation.h"

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "platform/Thread.h"
#include "tools/gt20sim/SocketTrackerLink.h"

namespace gt20sim {

namespace {

// A small stack: a run may hold thousands of tracker threads.
constexpr std::size_t kTrackerStack = 256 * 1024;
constexpr auto kControlTick = std::chrono::milliseconds(10);

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

struct TrackerRun
{
    std::unique_ptr<SocketTrackerLink> link;
    std::unique_ptr<TrackerSession> session;
    platform::Thread thread;
};

} // namespace

RunLimits runLimits(const SimOptions& options)
{
    RunLimits limits;
    double intervalMs = options.intervalS * 1000;
    if (options.durationS)
        limits.deadlineMs = *options.durationS * 1000;
    else
        limits.deadlineMs =
            static_cast<double>(packetsPerTracker(options)) * (intervalMs + options.ackTimeoutMs) +
            intervalMs + kCountGraceMs;
    return limits;
}

RunEnd checkRunEnd(const RunLimits& limits, double elapsedMs, bool anyConnected, bool allDone,
                   bool stopRequested)
{
    if (stopRequested)
        return RunEnd::Stopped;
    if (allDone)
        return RunEnd::AllDone;
    if (elapsedMs >= limits.deadlineMs)
        return RunEnd::TimeUp;
    if (!anyConnected && elapsedMs >= limits.firstConnectLimitMs)
        return RunEnd::NoConnection;
    return RunEnd::Running;
}

std::vector<TrackerPlan> makePlans(const SimOptions& options, std::uint64_t seed,
                                   std::uint32_t startTime)
{
    std::vector<TrackerPlan> plans;
    double intervalMs = options.intervalS * 1000;
    for (std::size_t i = 0; i < options.trackers; ++i) {
        TrackerPlan p;
        p.imei = imeiFor(options.imeiBase, i);
        p.version = options.firmware;
        p.fields = options.fields;
        p.records = options.records;
        p.intervalMs = intervalMs;
        p.packets = packetsPerTracker(options);
        p.ackTimeoutMs = options.ackTimeoutMs;
        p.damage = options.damage;
        p.seed = mix(seed + i);
        p.startTime = startTime;
        p.startAtMs = intervalMs * static_cast<double>(i) / static_cast<double>(options.trackers);
        plans.push_back(std::move(p));
    }
    return plans;
}

Totals runSimulation(const SimOptions& options, std::uint64_t seed, AckedLog* acked,
                     const std::atomic<bool>& stop, const TrackerSession::Chatter& chatter)
{
    RunStats stats(options.trackers);
    SteadyPacer pacer;
    std::atomic<std::size_t> finished{0};
    auto startTime = static_cast<std::uint32_t>(std::time(nullptr));
    std::vector<TrackerRun> runs(options.trackers);
    std::vector<TrackerPlan> plans = makePlans(options, seed, startTime);
    for (std::size_t i = 0; i < runs.size(); ++i) {
        TrackerRun& r = runs[i];
        r.link = std::make_unique<SocketTrackerLink>(options.host, options.port, kConnectWaitMs);
        r.session =
            std::make_unique<TrackerSession>(plans[i], *r.link, pacer, stats, acked, chatter);
        TrackerSession* session = r.session.get();
        if (!r.thread.start(
                [session, &finished] {
                    session->run();
                    ++finished;
                },
                kTrackerStack)) {
            ++finished;
            if (chatter)
                chatter(plans[i].imei + ": no thread for this tracker");
        }
    }
    RunLimits limits = runLimits(options);
    while (checkRunEnd(limits, pacer.nowMs(), stats.connections() > 0, finished == runs.size(),
                       stop) == RunEnd::Running)
        std::this_thread::sleep_for(kControlTick);
    pacer.end();
    for (TrackerRun& r : runs)
        if (r.thread.joinable())
            r.thread.join();
    return stats.totals();
}

} // namespace gt20sim
