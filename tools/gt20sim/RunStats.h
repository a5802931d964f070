// tools/gt20sim/RunStats.h: what the simulated trackers counted, and the summary made of it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace gt20sim {

struct Totals
{
    std::uint64_t trackers = 0;
    std::uint64_t sent = 0; // normal data packets
    std::uint64_t acknowledged = 0;
    std::uint64_t unacknowledged = 0; // no right acknowledgement within the wait, or link lost
    std::uint64_t recordsAcknowledged = 0;
    std::uint64_t identifications = 0;
    std::uint64_t identificationsAcknowledged = 0;
    std::uint64_t trackersIdentified = 0; // trackers that got at least one identification through
    std::uint64_t connections = 0;
    std::uint64_t brokenSent = 0;         // deliberately spoiled data packets
    std::uint64_t brokenAcknowledged = 0; // spoiled checksums acknowledged all the same
    std::vector<double> latenciesMs;      // send to acknowledgement, normal data packets
};

// Thread-safe counters for all trackers of a run.
class RunStats
{
public:
    explicit RunStats(std::uint64_t trackers);

    void connected() { countOne(&Totals::connections); }
    void identificationSent() { countOne(&Totals::identifications); }
    // firstForTracker: this tracker's first identification to be acknowledged.
    void identificationAcknowledged(bool firstForTracker);
    void dataSent() { countOne(&Totals::sent); }
    void dataAcknowledged(double latencyMs, std::uint64_t records);
    void dataUnacknowledged() { countOne(&Totals::unacknowledged); }
    void brokenSent() { countOne(&Totals::brokenSent); }
    void brokenAcknowledged() { countOne(&Totals::brokenAcknowledged); }

    Totals totals() const;
    std::uint64_t connections() const;

private:
    void countOne(std::uint64_t Totals::*counter);

    mutable std::mutex m_mutex;
    Totals m_totals; // guarded by m_mutex
};

// Nearest-rank percentile (p in 0..100) of the values; 0 when there are none.
double percentile(std::vector<double> values, double p);

// The summary lines: trackers, sent, acknowledged, unacknowledged, records acknowledged, latency
// percentiles, identifications, identifications acknowledged, trackers identified; then broken
// sent and broken acknowledged when the run sent broken input on purpose.
std::string summaryText(const Totals& totals, bool withBroken);

// 0 when every normal data packet and identification was acknowledged and every tracker got
// through; 2 when no tracker connected at all; 1 otherwise.
int exitCode(const Totals& totals);

} // namespace gt20sim
