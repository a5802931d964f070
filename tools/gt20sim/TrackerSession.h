// tools/gt20sim/TrackerSession.h: one simulated tracker: connects, identifies itself, sends its
// data packets on schedule and checks every acknowledgement, reconnecting whenever it must.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "tools/gt20sim/AckedLog.h"
#include "tools/gt20sim/RunStats.h"
#include "tools/gt20sim/SimOptions.h"
#include "tools/gt20sim/Track.h"
#include "tools/gt20sim/TrackerLink.h"
#include "tracker/PacketFormat.h"

namespace gt20sim {

// Pause between connect attempts, and after a lost connection.
inline constexpr double kReconnectPauseMs = 500;

// Spoiled packets whose acknowledgement is still watched for, per connection.
inline constexpr std::size_t kWatchedSpoiled = 64;

struct TrackerPlan
{
    std::string imei;
    std::uint8_t version = 25;
    Bytes fields = kDefaultFields;
    std::size_t records = 1;
    double intervalMs = 5000;
    std::uint64_t packets = 10; // data packets to send; 0: until the run is over
    int ackTimeoutMs = 5000;
    Damage damage;
    std::uint64_t seed = 0;      // track and broken input
    std::uint32_t startTime = 0; // time field of the first record
    double startAtMs = 0;        // run time of the first connect
};

enum class Breakage
{
    None,
    BadChecksum,
    Truncate,
    Garbage
};

// Which breakage a packet gets for a draw u in [0, 1): the chances laid end to end.
Breakage chooseBreakage(const Damage& damage, double u);

class TrackerSession
{
public:
    // Per-event lines (connects, failures, breakage); empty: none.
    using Chatter = std::function<void(const std::string&)>;

    // link, pacer, stats and acked (may be null) outlive the session.
    TrackerSession(TrackerPlan plan, TrackerLink& link, Pacer& pacer, RunStats& stats,
                   AckedLog* acked, Chatter chatter = {});

    // The tracker's thread: runs until its packets are sent or the run is over.
    void run();

    // Data packets sent so far, broken ones included.
    std::uint64_t packetsSent() const { return m_sent; }

private:
    enum class AckResult
    {
        Acked,
        TimedOut,
        Lost
    };

    bool done() const;
    bool connectAndIdentify();
    void sendNext();
    void sendNormal(const Bytes& packet, const std::vector<Fix>& fixes);
    void sendBroken(Bytes packet, Breakage breakage);
    AckResult awaitAck(const tracker::Acknowledgement& expected);
    // Closes the connection; the next connect waits pauseMs.
    void dropConnection(double pauseMs);
    void say(const std::string& event) const;

    TrackerPlan m_plan;
    TrackerLink& m_link;
    Pacer& m_pacer;
    RunStats& m_stats;
    AckedLog* m_acked;
    Chatter m_chatter;
    Track m_track;
    std::mt19937_64 m_random;

    bool m_connected = false;
    bool m_identifiedOnce = false;
    bool m_reportedRefusal = false;
    std::uint64_t m_sent = 0;
    double m_nextDueMs = 0;                // run time of the next data packet
    double m_connectAtMs = 0;              // run time of the next connect attempt
    tracker::Acknowledgement m_ackBytes{}; // an acknowledgement being read
    std::size_t m_ackHave = 0;
    std::vector<tracker::Acknowledgement> m_spoiled; // answers to spoiled packets, if any came
};

} // namespace gt20sim
