// tests/tools/gt20sim/TrackerSessionTest.cpp: one simulated tracker against a scripted gateway,
// in run time that moves only when the tracker waits.
#include "tools/gt20sim/TrackerSession.h"

#include <sstream>

#include <gtest/gtest.h>

#include "tests/fakes/TempDir.h"
#include "tests/tools/gt20sim/ScriptedGateway.h"
#include "tools/common/Monotonic.h"

using namespace gt20sim;
using toolfakes::ScriptedGateway;
using Kind = ScriptedGateway::Event::Kind;

namespace {

const std::string kImei = "356307042440007";

struct AckedRecord
{
    std::string imei;
    std::uint32_t time = 0;
    std::int64_t ackedAtUs = 0;
};

std::vector<AckedRecord> ackedRecords(const std::string& text)
{
    std::vector<AckedRecord> out;
    std::istringstream in(text);
    AckedRecord r;
    while (in >> r.imei >> r.time >> r.ackedAtUs)
        out.push_back(r);
    return out;
}

bool isData(const Bytes& sent)
{
    return sent.size() >= 2 && tracker::packetType(tracker::readU16(sent.data())) == 2;
}

class TrackerSessionTest : public ::testing::Test
{
protected:
    TrackerSessionTest()
    {
        m_plan.imei = kImei;
        m_plan.records = 2;
        m_plan.intervalMs = 1000;
        m_plan.packets = 3;
        m_plan.ackTimeoutMs = 100;
        m_plan.seed = 5;
        m_plan.startTime = 1700000000;
        m_plan.startAtMs = 250;
    }

    void run(AckedLog* acked = nullptr)
    {
        TrackerSession session(m_plan, m_gateway, m_pacer, m_stats, acked,
                               [this](const std::string& line) { m_chatter.push_back(line); });
        session.run();
        m_sent = session.packetsSent();
    }

    std::vector<Bytes> dataSent() const
    {
        std::vector<Bytes> out;
        for (auto& s : m_gateway.sent())
            if (isData(s))
                out.push_back(s);
        return out;
    }

    TrackerPlan m_plan;
    toolfakes::FakePacer m_pacer{60000};
    ScriptedGateway m_gateway{m_pacer};
    RunStats m_stats{1};
    std::vector<std::string> m_chatter;
    std::uint64_t m_sent = 0;
};

} // namespace

TEST_F(TrackerSessionTest, IdentifiesThenSendsOnScheduleAndLogsAcknowledgedRecords)
{
    fakes::TempDir dir;
    AckedLog acked;
    ASSERT_TRUE(acked.open(dir.file("acked.txt")));
    m_gateway.replyAfterMs = 2;
    const std::int64_t before = tools::monotonicMicros();
    run(&acked);
    const std::int64_t after = tools::monotonicMicros();

    std::vector<Bytes> sent = m_gateway.sent();
    ASSERT_EQ(4u, sent.size());
    EXPECT_EQ(identificationPacket(kImei, 25, kDefaultFields), sent[0]);
    // The first data packet right after the identification's acknowledgement, then every second.
    EXPECT_EQ((std::vector<double>{250, 252, 1250, 2250}), m_gateway.timesOf(Kind::Send));
    EXPECT_EQ((std::vector<double>{250}), m_gateway.timesOf(Kind::Connect));
    for (std::size_t i = 1; i < sent.size(); ++i) {
        EXPECT_TRUE(tracker::checksumMatches(sent[i].data(), sent[i].size()));
        EXPECT_EQ(2, sent[i][2]); // records per packet
    }

    Totals t = m_stats.totals();
    EXPECT_EQ(3u, t.sent);
    EXPECT_EQ(3u, t.acknowledged);
    EXPECT_EQ(6u, t.recordsAcknowledged);
    EXPECT_EQ((std::vector<double>{2, 2, 2}), t.latenciesMs);
    EXPECT_EQ(1u, t.identificationsAcknowledged);
    EXPECT_EQ(1u, t.trackersIdentified);
    EXPECT_EQ(0, exitCode(t));
    // Every record has its own time: the start time plus its place in the run; then when its
    // acknowledgement came, on the machine's monotonic clock.
    std::vector<AckedRecord> records = ackedRecords(dir.read("acked.txt"));
    ASSERT_EQ(6u, records.size());
    for (std::uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(kImei, records[i].imei);
        EXPECT_EQ(1700000000 + i, records[i].time);
        EXPECT_GE(records[i].ackedAtUs, before);
        EXPECT_LE(records[i].ackedAtUs, after);
    }
}

TEST_F(TrackerSessionTest, OnlyTheRightAcknowledgementCounts)
{
    int data = 0;
    Bytes previous;
    m_gateway.behaviour = [&](ScriptedGateway& g, const Bytes& sent) {
        if (!isData(sent))
            return ScriptedGateway::acknowledgeGood(g, sent);
        ++data;
        if (data == 1) // checksum bytes in the wrong order
            g.answer({0x01, sent[sent.size() - 1], sent[sent.size() - 2]});
        if (data == 2) { // silence
        }
        if (data == 3) { // the second packet's answer comes late, then the third's
            ScriptedGateway::acknowledgeGood(g, previous);
            ScriptedGateway::acknowledgeGood(g, sent);
        }
        previous = sent;
    };
    run();

    Totals t = m_stats.totals();
    EXPECT_EQ(3u, t.sent);
    EXPECT_EQ(1u, t.acknowledged);
    EXPECT_EQ(2u, t.unacknowledged);
    EXPECT_EQ(1u, t.connections); // a missing acknowledgement does not end the connection
    EXPECT_EQ(1, exitCode(t));
    // A failed wait costs the acknowledgement wait; the schedule holds.
    EXPECT_EQ((std::vector<double>{250, 250, 1250, 2250}), m_gateway.timesOf(Kind::Send));
}

TEST_F(TrackerSessionTest, LostConnectionCountsThePacketAndReconnectsAfterAPause)
{
    int data = 0;
    m_gateway.behaviour = [&](ScriptedGateway& g, const Bytes& sent) {
        if (isData(sent) && ++data == 2)
            return g.closeByPeer();
        ScriptedGateway::acknowledgeGood(g, sent);
    };
    m_plan.packets = 4;
    fakes::TempDir dir;
    AckedLog acked;
    ASSERT_TRUE(acked.open(dir.file("acked.txt")));
    run(&acked);

    // The records of the lost packet are not logged, and no time comes twice: the track goes on
    // across the new connection, so (IMEI, time) still names one record.
    std::vector<std::uint32_t> times;
    for (const AckedRecord& r : ackedRecords(dir.read("acked.txt")))
        times.push_back(r.time);
    EXPECT_EQ((std::vector<std::uint32_t>{1700000000, 1700000001, 1700000004, 1700000005,
                                          1700000006, 1700000007}),
              times);

    Totals t = m_stats.totals();
    EXPECT_EQ(4u, t.sent);
    EXPECT_EQ(3u, t.acknowledged);
    EXPECT_EQ(1u, t.unacknowledged);
    EXPECT_EQ(2u, t.connections);
    EXPECT_EQ(2u, t.identifications);
    EXPECT_EQ(2u, t.identificationsAcknowledged);
    EXPECT_EQ(1u, t.trackersIdentified);
    EXPECT_EQ((std::vector<double>{250, 1250 + kReconnectPauseMs}),
              m_gateway.timesOf(Kind::Connect));
    std::vector<Bytes> sent = m_gateway.sent();
    ASSERT_EQ(6u, sent.size());
    EXPECT_EQ(sent[0], sent[3]); // identified again on the new connection
}

TEST_F(TrackerSessionTest, RefusedConnectsAreRetriedUntilTheRunEnds)
{
    m_pacer = toolfakes::FakePacer(2000);
    m_gateway.refuseConnects = 1000;
    run();
    EXPECT_EQ((std::vector<double>{250, 750, 1250, 1750}), m_gateway.timesOf(Kind::Refused));
    EXPECT_TRUE(m_gateway.sent().empty());
    EXPECT_EQ(0u, m_sent);
    EXPECT_EQ(2, exitCode(m_stats.totals()));
    EXPECT_EQ((std::vector<std::string>{kImei + ": cannot connect; retrying"}), m_chatter);
}

TEST_F(TrackerSessionTest, UnacknowledgedIdentificationIsRetriedOnANewConnection)
{
    int identifications = 0;
    m_gateway.behaviour = [&](ScriptedGateway& g, const Bytes& sent) {
        if (!isData(sent) && ++identifications == 1)
            return;
        ScriptedGateway::acknowledgeGood(g, sent);
    };
    run();
    Totals t = m_stats.totals();
    EXPECT_EQ(2u, t.identifications);
    EXPECT_EQ(1u, t.identificationsAcknowledged);
    EXPECT_EQ(3u, t.acknowledged);
    EXPECT_EQ(1, exitCode(t));
    EXPECT_EQ((std::vector<double>{250, 250 + 100 + kReconnectPauseMs}),
              m_gateway.timesOf(Kind::Connect));
}

TEST_F(TrackerSessionTest, SpoiledChecksumsAreNotWaitedForButAnAnswerToThemIsCaught)
{
    // A faulty gateway that acknowledges everything.
    m_gateway.behaviour = [](ScriptedGateway& g, const Bytes& sent) {
        auto ack = expectedAck(sent);
        g.answer(Bytes(ack.begin(), ack.end()));
    };
    m_plan.damage.badChecksum = 0.5;
    m_plan.packets = 40;
    m_plan.intervalMs = 0;
    run();

    std::size_t spoiled = 0, spoiledBeforeLastGood = 0, good = 0;
    for (const Bytes& p : dataSent()) {
        if (tracker::checksumMatches(p.data(), p.size())) {
            ++good;
            spoiledBeforeLastGood = spoiled;
        } else {
            ++spoiled;
        }
    }
    ASSERT_GT(spoiled, 5u);
    ASSERT_GT(good, 5u);
    Totals t = m_stats.totals();
    EXPECT_EQ(good, t.sent);
    EXPECT_EQ(good, t.acknowledged);
    EXPECT_EQ(spoiled, t.brokenSent);
    EXPECT_EQ(spoiledBeforeLastGood, t.brokenAcknowledged);
    EXPECT_EQ(0, exitCode(t));
    EXPECT_EQ(1u, t.connections);
}

TEST_F(TrackerSessionTest, TruncatedPacketsEndTheConnectionAndTheTrackerIdentifiesAgain)
{
    m_plan.damage.truncate = 1;
    m_plan.packets = 2;
    run();
    std::vector<Bytes> sent = m_gateway.sent();
    ASSERT_EQ(4u, sent.size());
    Bytes identification = identificationPacket(kImei, 25, kDefaultFields);
    const std::size_t full = 2 + 1 + 2 * 20 + 2;
    for (std::size_t i : {0u, 2u})
        EXPECT_EQ(identification, sent[i]);
    for (std::size_t i : {1u, 3u}) {
        EXPECT_GE(sent[i].size(), 1u);
        EXPECT_LT(sent[i].size(), full);
    }
    EXPECT_EQ(2u, m_gateway.timesOf(Kind::Connect).size());
    EXPECT_EQ(2u, m_gateway.timesOf(Kind::Close).size());
    Totals t = m_stats.totals();
    EXPECT_EQ(0u, t.sent);
    EXPECT_EQ(2u, t.brokenSent);
    EXPECT_EQ(0, exitCode(t));
}

TEST_F(TrackerSessionTest, GarbageGoesBeforeAWholePacketThenTheTrackerStartsAfresh)
{
    m_plan.damage.garbage = 1;
    m_plan.packets = 5;
    run();
    std::vector<Bytes> data;
    for (const Bytes& s : m_gateway.sent())
        if (s.size() != 40) // not an identification
            data.push_back(s);
    ASSERT_EQ(5u, data.size());
    const std::size_t full = 2 + 1 + 2 * 20 + 2;
    for (const Bytes& s : data) {
        ASSERT_GT(s.size(), full);
        EXPECT_LE(s.size(), full + 32);
        const std::uint8_t* packet = s.data() + (s.size() - full);
        EXPECT_TRUE(tracker::checksumMatches(packet, full));
    }
    EXPECT_EQ(5u, m_gateway.timesOf(Kind::Connect).size());
    EXPECT_EQ(5u, m_stats.totals().brokenSent);
}

TEST(BreakageTest, ChancesLieEndToEnd)
{
    Damage d;
    d.badChecksum = 0.125;
    d.truncate = 0.25;
    d.garbage = 0.375;
    EXPECT_EQ(Breakage::BadChecksum, chooseBreakage(d, 0));
    EXPECT_EQ(Breakage::BadChecksum, chooseBreakage(d, 0.1249));
    EXPECT_EQ(Breakage::Truncate, chooseBreakage(d, 0.125));
    EXPECT_EQ(Breakage::Truncate, chooseBreakage(d, 0.3749));
    EXPECT_EQ(Breakage::Garbage, chooseBreakage(d, 0.375));
    EXPECT_EQ(Breakage::Garbage, chooseBreakage(d, 0.7499));
    EXPECT_EQ(Breakage::None, chooseBreakage(d, 0.75));
    EXPECT_EQ(Breakage::None, chooseBreakage(Damage{}, 0));
}
