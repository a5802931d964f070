// app/Housekeeping.h: the gateway's once-a-second duties on the main thread: the service
// manager's status line and watchdog, the metrics endpoint's figures and day-log retention.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/GatewayFigures.h"
#include "app/ServiceManager.h"

namespace app {

class DayLogRetention;

// "link logged in, 12 trackers connected, backlog 0": what `systemctl status` shows.
std::string statusLine(const GatewayFigures& figures);

// Decides whether the watchdog may be fed: only while the dispatcher (main thread) and the
// message-server client's loop both still move. A thread stuck in a call stops its count, and
// after the stall limit the feeding stops, so the service manager ends and restarts the process.
class WatchdogFeed
{
public:
    using Clock = std::chrono::steady_clock;

    // A count may stand still this long (the client waits up to 5 s for a reply or a connect).
    explicit WatchdogFeed(Clock::duration stallLimit) : m_stallLimit(stallLimit) {}

    // clientTurns: nothing when there is no client to watch.
    bool healthy(Clock::time_point now, std::uint64_t dispatcherTicks,
                 std::optional<std::uint64_t> clientTurns);

private:
    struct Watched
    {
        bool seen = false;
        std::uint64_t count = 0;
        Clock::time_point moved{};
        bool moving(Clock::time_point now, std::uint64_t value, Clock::duration limit);
    };

    Clock::duration m_stallLimit;
    Watched m_dispatcher;
    Watched m_client;
};

struct HousekeepingSources
{
    std::function<GatewayFigures()> figures;
    std::function<std::uint64_t()> dispatcherTicks;            // runs of the dispatch timer
    std::function<std::optional<std::uint64_t>()> clientTurns; // nothing: no client
    std::function<void(const GatewayFigures&)> publishMetrics; // empty: no endpoint
    DayLogRetention* retention = nullptr;                      // null: day logs are kept
};

class Housekeeping
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kStatusEvery{5};

    // The manager outlives this. Nothing is sent until the first tick.
    Housekeeping(HousekeepingSources sources, ServiceManager& manager);

    // How often tick() should run: once a second, or faster for a short watchdog interval.
    std::chrono::milliseconds tickInterval() const;

    // Main thread.
    void tick(Clock::time_point now);

private:
    HousekeepingSources m_sources;
    ServiceManager& m_manager;
    std::optional<std::chrono::microseconds> m_watchdog;
    std::optional<WatchdogFeed> m_feed;
    std::optional<Clock::time_point> m_lastStatus;
    std::string m_lastStatusLine;
};

} // namespace app
