// tools/gt20sim/RunStats.cpp
#include "tools/gt20sim/RunStats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace gt20sim {

RunStats::RunStats(std::uint64_t trackers)
{
    m_totals.trackers = trackers;
}

void RunStats::countOne(std::uint64_t Totals::*counter)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++(m_totals.*counter);
}

void RunStats::identificationAcknowledged(bool firstForTracker)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_totals.identificationsAcknowledged;
    if (firstForTracker)
        ++m_totals.trackersIdentified;
}

void RunStats::dataAcknowledged(double latencyMs, std::uint64_t records)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_totals.acknowledged;
    m_totals.recordsAcknowledged += records;
    m_totals.latenciesMs.push_back(latencyMs);
}

Totals RunStats::totals() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_totals;
}

std::uint64_t RunStats::connections() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_totals.connections;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    auto rank = static_cast<std::size_t>(std::ceil(p / 100 * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

std::string summaryText(const Totals& t, bool withBroken)
{
    auto line = [](const char* name, std::uint64_t n) {
        return std::string(name) + ' ' + std::to_string(n) + '\n';
    };
    char latency[160];
    std::snprintf(latency, sizeof latency, "latency ms p50 %.2f p90 %.2f p99 %.2f max %.2f\n",
                  percentile(t.latenciesMs, 50), percentile(t.latenciesMs, 90),
                  percentile(t.latenciesMs, 99), percentile(t.latenciesMs, 100));
    std::string out = line("trackers", t.trackers) + line("sent", t.sent) +
                      line("acknowledged", t.acknowledged) +
                      line("unacknowledged", t.unacknowledged) +
                      line("records acknowledged", t.recordsAcknowledged) + latency +
                      line("identifications", t.identifications) +
                      line("identifications acknowledged", t.identificationsAcknowledged) +
                      line("trackers identified", t.trackersIdentified);
    if (withBroken)
        out +=
            line("broken sent", t.brokenSent) + line("broken acknowledged", t.brokenAcknowledged);
    return out;
}

int exitCode(const Totals& t)
{
    if (t.connections == 0)
        return 2;
    bool allThrough = t.unacknowledged == 0 && t.identificationsAcknowledged == t.identifications &&
                      t.trackersIdentified == t.trackers;
    return allThrough ? 0 : 1;
}

} // namespace gt20sim
