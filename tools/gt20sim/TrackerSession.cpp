// tools/gt20sim/TrackerSession.cpp
#include "tools/gt20sim/TrackerSession.h"

#include <algorithm>
#include <cmath>

#include "tools/common/Monotonic.h"
#include "tools/gt20sim/TrackerPackets.h"

namespace gt20sim {

Breakage chooseBreakage(const Damage& damage, double u)
{
    double edge = damage.badChecksum;
    if (u < edge)
        return Breakage::BadChecksum;
    edge += damage.truncate;
    if (u < edge)
        return Breakage::Truncate;
    edge += damage.garbage;
    if (u < edge)
        return Breakage::Garbage;
    return Breakage::None;
}

TrackerSession::TrackerSession(TrackerPlan plan, TrackerLink& link, Pacer& pacer, RunStats& stats,
                               AckedLog* acked, Chatter chatter)
    : m_plan(std::move(plan)), m_link(link), m_pacer(pacer), m_stats(stats), m_acked(acked),
      m_chatter(std::move(chatter)), m_track(m_plan.seed, m_plan.startTime),
      m_random(m_plan.seed ^ 0x9E3779B97F4A7C15ull)
{
}

void TrackerSession::run()
{
    m_nextDueMs = m_plan.startAtMs;
    m_connectAtMs = m_plan.startAtMs;
    while (!done()) {
        if (!m_connected) {
            if (!m_pacer.sleepUntil(m_connectAtMs))
                break;
            if (!connectAndIdentify())
                m_connectAtMs = m_pacer.nowMs() + kReconnectPauseMs;
            continue;
        }
        if (!m_pacer.sleepUntil(m_nextDueMs))
            break;
        sendNext();
        // No catching up in a burst after an outage: the schedule restarts from now.
        m_nextDueMs = std::max(m_nextDueMs + m_plan.intervalMs, m_pacer.nowMs());
    }
    m_link.close();
}

bool TrackerSession::done() const
{
    return m_pacer.runOver() || (m_plan.packets > 0 && m_sent >= m_plan.packets);
}

bool TrackerSession::connectAndIdentify()
{
    if (!m_link.connect()) {
        if (!m_reportedRefusal)
            say("cannot connect; retrying");
        m_reportedRefusal = true;
        return false;
    }
    m_reportedRefusal = false;
    m_ackHave = 0;
    m_spoiled.clear();
    m_stats.connected();
    Bytes packet = identificationPacket(m_plan.imei, m_plan.version, m_plan.fields);
    m_stats.identificationSent();
    if (!m_link.send(packet) || awaitAck(expectedAck(packet)) != AckResult::Acked) {
        say("identification not acknowledged");
        m_link.close();
        return false;
    }
    m_stats.identificationAcknowledged(!m_identifiedOnce);
    m_identifiedOnce = true;
    m_connected = true;
    say("connected and identified");
    return true;
}

void TrackerSession::sendNext()
{
    std::vector<Fix> fixes;
    for (std::size_t i = 0; i < m_plan.records; ++i)
        fixes.push_back(m_track.next());
    Bytes packet = dataPacket(m_plan.fields, fixes);
    ++m_sent;
    double u = std::uniform_real_distribution<double>(0, 1)(m_random);
    Breakage breakage = chooseBreakage(m_plan.damage, u);
    if (breakage == Breakage::None)
        sendNormal(packet, fixes);
    else
        sendBroken(std::move(packet), breakage);
}

void TrackerSession::sendNormal(const Bytes& packet, const std::vector<Fix>& fixes)
{
    m_stats.dataSent();
    double sentAt = m_pacer.nowMs();
    AckResult r = m_link.send(packet) ? awaitAck(expectedAck(packet)) : AckResult::Lost;
    if (r == AckResult::Acked) {
        m_stats.dataAcknowledged(m_pacer.nowMs() - sentAt, fixes.size());
        if (m_acked) {
            std::vector<std::uint32_t> times;
            for (const Fix& f : fixes)
                times.push_back(f.time);
            m_acked->append(m_plan.imei, times, tools::monotonicMicros());
        }
        return;
    }
    m_stats.dataUnacknowledged();
    say(r == AckResult::Lost ? "connection lost; data packet not acknowledged"
                             : "data packet not acknowledged in time");
    if (r == AckResult::Lost)
        dropConnection(kReconnectPauseMs);
}

void TrackerSession::sendBroken(Bytes packet, Breakage breakage)
{
    m_stats.brokenSent();
    switch (breakage) {
    case Breakage::BadChecksum:
        spoilChecksum(packet);
        if (m_spoiled.size() == kWatchedSpoiled)
            m_spoiled.erase(m_spoiled.begin());
        m_spoiled.push_back(expectedAck(packet));
        if (!m_link.send(packet))
            dropConnection(kReconnectPauseMs);
        return;
    case Breakage::Truncate: {
        std::size_t keep =
            std::uniform_int_distribution<std::size_t>(1, packet.size() - 1)(m_random);
        packet.resize(keep);
        say("sent " + std::to_string(keep) + " bytes of a packet; reconnecting");
        break;
    }
    case Breakage::Garbage: {
        // The stream has no packet start to find again, so the tracker starts afresh.
        Bytes noise(std::uniform_int_distribution<std::size_t>(1, 32)(m_random));
        for (auto& b : noise)
            b = static_cast<std::uint8_t>(m_random());
        packet.insert(packet.begin(), noise.begin(), noise.end());
        say("sent " + std::to_string(noise.size()) +
            " garbage bytes before a packet; reconnecting");
        break;
    }
    case Breakage::None:
        return;
    }
    m_link.send(packet);
    dropConnection(0);
}

TrackerSession::AckResult TrackerSession::awaitAck(const tracker::Acknowledgement& expected)
{
    const double deadline = m_pacer.nowMs() + m_plan.ackTimeoutMs;
    for (;;) {
        double left = deadline - m_pacer.nowMs();
        if (left <= 0)
            return AckResult::TimedOut;
        LinkRead r = m_link.receive(m_ackBytes.data() + m_ackHave, m_ackBytes.size() - m_ackHave,
                                    static_cast<int>(std::ceil(left)));
        if (r.status == LinkRead::Status::TimedOut)
            return AckResult::TimedOut;
        if (r.status == LinkRead::Status::Closed)
            return AckResult::Lost;
        m_ackHave += r.bytes;
        if (m_ackHave < m_ackBytes.size())
            continue;
        m_ackHave = 0;
        if (m_ackBytes == expected)
            return AckResult::Acked;
        auto spoiled = std::find(m_spoiled.begin(), m_spoiled.end(), m_ackBytes);
        if (spoiled != m_spoiled.end()) {
            m_spoiled.erase(spoiled);
            m_stats.brokenAcknowledged();
            say("a packet with a bad checksum was acknowledged");
        }
        // Anything else is a late answer to a packet given up on: skipped.
    }
}

void TrackerSession::dropConnection(double pauseMs)
{
    m_link.close();
    m_connected = false;
    m_connectAtMs = m_pacer.nowMs() + pauseMs;
}

void TrackerSession::say(const std::string& event) const
{
    if (m_chatter)
        m_chatter(m_plan.imei + ": " + event);
}

} // namespace gt20sim
