// tests/tools/gt20sim/ScriptedGateway.h: a simulated tracker's connection and clock under the
// test's control: the gateway's answers are scripted and time moves only when waited on.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "tools/gt20sim/TrackerLink.h"
#include "tools/gt20sim/TrackerPackets.h"
#include "tracker/Crc16.h"

namespace toolfakes {

using gt20sim::Bytes;

// Run time that moves when a tracker sleeps or waits; the run is over at limitMs.
class FakePacer final : public gt20sim::Pacer
{
public:
    explicit FakePacer(double limitMs) : m_limitMs(limitMs) {}

    double nowMs() const override { return m_now; }
    bool sleepUntil(double ms) override
    {
        if (ms > m_now)
            m_now = ms;
        return !runOver();
    }
    bool runOver() const override { return m_now >= m_limitMs; }
    void advance(double ms) { m_now += ms; }

private:
    double m_now = 0;
    double m_limitMs;
};

class ScriptedGateway final : public gt20sim::TrackerLink
{
public:
    struct Event
    {
        enum class Kind
        {
            Connect,
            Refused,
            Send,
            Close
        } kind;
        double atMs;
        Bytes bytes; // Send: what was sent
    };

    // What the gateway does with each packet sent; the default acknowledges right checksums.
    using Behaviour = std::function<void(ScriptedGateway&, const Bytes& sent)>;

    explicit ScriptedGateway(FakePacer& pacer) : m_pacer(pacer) {}

    static void acknowledgeGood(ScriptedGateway& g, const Bytes& sent)
    {
        if (sent.size() >= 4 && tracker::checksumMatches(sent.data(), sent.size())) {
            auto ack = gt20sim::expectedAck(sent);
            g.answer(Bytes(ack.begin(), ack.end()));
        }
    }

    // Bytes the tracker reads next; the first read of them comes replyAfterMs after the wait began.
    void answer(const Bytes& bytes) { m_pending.push_back({bytes, replyAfterMs}); }
    void closeByPeer() { m_peerClosed = true; }

    bool connect() override
    {
        close();
        if (refuseConnects > 0) {
            --refuseConnects;
            events.push_back({Event::Kind::Refused, m_pacer.nowMs(), {}});
            return false;
        }
        m_open = true;
        events.push_back({Event::Kind::Connect, m_pacer.nowMs(), {}});
        return true;
    }

    bool send(const Bytes& bytes) override
    {
        events.push_back({Event::Kind::Send, m_pacer.nowMs(), bytes});
        if (!m_open || m_peerClosed)
            return false;
        behaviour(*this, bytes);
        return true;
    }

    gt20sim::LinkRead receive(std::uint8_t* buffer, std::size_t count, int waitMs) override
    {
        if (!m_pending.empty()) {
            Pending& p = m_pending.front();
            m_pacer.advance(p.delayMs);
            p.delayMs = 0;
            std::size_t n = std::min(count, p.bytes.size());
            std::copy_n(p.bytes.begin(), n, buffer);
            p.bytes.erase(p.bytes.begin(), p.bytes.begin() + static_cast<std::ptrdiff_t>(n));
            if (p.bytes.empty())
                m_pending.pop_front();
            return {gt20sim::LinkRead::Status::Data, n};
        }
        if (m_peerClosed || !m_open)
            return {gt20sim::LinkRead::Status::Closed, 0};
        m_pacer.advance(waitMs);
        return {gt20sim::LinkRead::Status::TimedOut, 0};
    }

    void close() override
    {
        if (m_open)
            events.push_back({Event::Kind::Close, m_pacer.nowMs(), {}});
        m_open = false;
        m_peerClosed = false;
        m_pending.clear();
    }

    std::vector<Bytes> sent() const
    {
        std::vector<Bytes> out;
        for (const Event& e : events)
            if (e.kind == Event::Kind::Send)
                out.push_back(e.bytes);
        return out;
    }

    std::vector<double> timesOf(Event::Kind kind) const
    {
        std::vector<double> out;
        for (const Event& e : events)
            if (e.kind == kind)
                out.push_back(e.atMs);
        return out;
    }

    Behaviour behaviour = acknowledgeGood;
    int refuseConnects = 0;
    double replyAfterMs = 0;
    std::vector<Event> events;

private:
    struct Pending
    {
        Bytes bytes;
        double delayMs;
    };

    FakePacer& m_pacer;
    bool m_open = false;
    bool m_peerClosed = false;
    std::deque<Pending> m_pending;
};

} // namespace toolfakes
