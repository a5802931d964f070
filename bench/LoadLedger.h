// bench/LoadLedger.h: matching the records the simulated trackers saw acknowledged with the
// messages the test server received, for the whole-gateway load benchmark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace loadbench {

// One record as both sides name it: the IMEI, a blank and the time text of its position message.
struct Stamped
{
    std::string record;
    std::int64_t atUs = 0; // monotonic clock, microseconds
};

// A line of gt20sim's --acked file: "<imei> <time field> <acked at>". Nothing when malformed
// (for example a line still being written).
std::optional<Stamped> parseAckedLine(const std::string& line);

// A line of msgserver's --stamp output: "<arrived at> <message JSON>". Nothing when it carries no
// stamp, IMEI or time.
std::optional<Stamped> parseMessageLine(const std::string& line);

// The acknowledgement latency in gt20sim's summary, from the figures after "latency ms":
// "p50 A p90 B p99 C max D". Nothing when they are not there.
struct AckLatency
{
    double p50Ms = 0;
    double p99Ms = 0;
};
std::optional<AckLatency> parseAckLatency(const std::string& summaryFigures);

struct Tally
{
    std::size_t acked = 0;       // distinct records acknowledged
    std::size_t delivered = 0;   // of those, received at least once
    std::size_t undelivered = 0; // acknowledged, never received
    std::size_t duplicates = 0;  // records received more than once
    std::size_t unacked = 0;     // received without an acknowledgement seen (e.g. late ack)
    double latencyP50Ms = 0;     // acknowledgement to first arrival; 0 for one before it
    double latencyP99Ms = 0;
    std::optional<std::int64_t> firstAckUs, lastAckUs;
    std::optional<std::int64_t> firstArrivalUs, lastArrivalUs; // acknowledged records only
};

// Every record seen on either side. Not thread-safe.
class Ledger
{
public:
    void acked(const Stamped& s);
    void arrived(const Stamped& s);

    // Every acknowledged record has arrived (true when none was acknowledged).
    bool allDelivered() const { return m_waiting == 0; }
    std::size_t waiting() const { return m_waiting; }

    Tally tally() const;

private:
    struct Entry
    {
        std::optional<std::int64_t> ackedUs;
        std::optional<std::int64_t> firstArrivalUs;
        std::size_t arrivals = 0;
    };
    std::unordered_map<std::string, Entry> m_records;
    std::size_t m_waiting = 0; // acknowledged, not yet arrived
};

// Reads a file another process is still appending to: each call gives the whole lines added
// since the previous one (a line not yet ended waits for its end). A missing file has no lines.
class LineFollower
{
public:
    explicit LineFollower(std::string path) : m_path(std::move(path)) {}

    std::vector<std::string> newLines();

private:
    std::string m_path;
    std::uint64_t m_offset = 0; // bytes taken so far
    std::string m_partial;      // the start of a line not yet ended
};

} // namespace loadbench
