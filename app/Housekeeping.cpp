// app/Housekeeping.cpp
#include "app/Housekeeping.h"

#include <algorithm>

#include "app/DayLogRetention.h"

namespace app {

std::string statusLine(const GatewayFigures& f)
{
    const char* link = "down";
    if (f.link == LinkFigure::Connected)
        link = "connected, not logged in";
    else if (f.link == LinkFigure::Authorised)
        link = "logged in";
    std::string line = std::string("link ") + link + ", " + std::to_string(f.trackersConnected) +
                       " trackers connected, backlog " + std::to_string(f.backlogDepth);
    if (f.backlogDepth > 0)
        line +=
            " (oldest " + std::to_string(static_cast<long long>(f.backlogOldestAgeSeconds)) + " s)";
    return line;
}

bool WatchdogFeed::Watched::moving(Clock::time_point now, std::uint64_t value,
                                   Clock::duration limit)
{
    if (!seen || value != count) {
        seen = true;
        count = value;
        moved = now;
    }
    return now - moved <= limit;
}

bool WatchdogFeed::healthy(Clock::time_point now, std::uint64_t dispatcherTicks,
                           std::optional<std::uint64_t> clientTurns)
{
    bool dispatcher = m_dispatcher.moving(now, dispatcherTicks, m_stallLimit);
    bool client = !clientTurns || m_client.moving(now, *clientTurns, m_stallLimit);
    return dispatcher && client;
}

Housekeeping::Housekeeping(HousekeepingSources sources, ServiceManager& manager)
    : m_sources(std::move(sources)), m_manager(manager), m_watchdog(manager.watchdogInterval())
{
    // Fed at least every quarter interval while healthy; a count may stall for half of it.
    if (m_watchdog)
        m_feed.emplace(*m_watchdog / 2);
}

std::chrono::milliseconds Housekeeping::tickInterval() const
{
    std::chrono::milliseconds every{1000};
    if (m_watchdog)
        every = std::min(every, std::max(std::chrono::milliseconds(1),
                                         std::chrono::duration_cast<std::chrono::milliseconds>(
                                             *m_watchdog / 4)));
    return every;
}

void Housekeeping::tick(Clock::time_point now)
{
    if (m_feed && m_feed->healthy(now, m_sources.dispatcherTicks(), m_sources.clientTurns()))
        m_manager.notify("WATCHDOG=1");

    GatewayFigures figures = m_sources.figures();
    if (m_sources.publishMetrics)
        m_sources.publishMetrics(figures);
    if (!m_lastStatus || now - *m_lastStatus >= kStatusEvery) {
        m_lastStatus = now;
        std::string line = statusLine(figures);
        if (line != m_lastStatusLine) {
            m_lastStatusLine = line;
            m_manager.notify("STATUS=" + line);
        }
    }
    if (m_sources.retention)
        m_sources.retention->tick();
}

} // namespace app
