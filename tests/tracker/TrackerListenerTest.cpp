// tests/tracker/TrackerListenerTest.cpp: the listener and its workers against real loopback
// trackers.
#include "tracker/TrackerListener.h"

#include <regex>
#include <set>

#include "tests/tracker/IntakeFixture.h"

using fakes::Bytes;
using fakes::fromHex;

class TrackerListenerTest : public IntakeFixture
{
protected:
    // Still open once the clock has moved on by stillOpenMs and the limits were checked; closed
    // by the listener, with its notice, once the clock moves on by pastMs more.
    void expectClosedOnlyAfter(fakes::TrackerClient& t, double stillOpenMs, double pastMs)
    {
        m_clock.advanceMs(stillOpenMs);
        ASSERT_TRUE(limitsChecked());
        EXPECT_FALSE(t.closedByPeer(0));
        m_clock.advanceMs(pastMs);
        EXPECT_TRUE(t.closedByPeer(2000));
        ASSERT_TRUE(waitNotices(1));
    }
};

// What a worker sends back for what a tracker sends; which packet the intake acknowledges is
// its own test's. Each row is one connection sending its packets back to back.
TEST_F(TrackerListenerTest, AcknowledgesExactlyThePacketsTheIntakeAllows)
{
    struct Row
    {
        const char* name;
        std::vector<Bytes> sent;
        std::vector<Bytes> acknowledged; // in order: no other acknowledgement may come between
        std::size_t queued;
        std::uint64_t dropped;
        std::uint64_t withheld;
    };
    const Bytes worked = fromHex("04 04 00 01 19 07 EB CD"), good = fakes::makePacket(0, {});
    const Bytes bad = fromHex("04 04 00 01 19 07 CD EB"); // the next two bytes: a header
    const Bytes data = fakes::workedDataPacket(), id = fakes::makeIdentification(kImeiA);
    std::vector<Bytes> everyType;
    for (unsigned type : {0u, 3u, 4u, 5u, 6u, 7u})
        everyType.push_back(fakes::makePacket(type, {static_cast<std::uint8_t>(type), 0x42}));
    // Data before identification: its records could never be delivered (they name no tracker),
    // yet it was acknowledged.
    const Row rows[] = {
        {"the worked packet, unidentified", {worked}, {worked}, 1, 0, 0},
        {"a wrong checksum, then a good packet", {bad, good}, {good}, 1, 1, 0},
        {"every packet type", everyType, everyType, 6, 0, 0},
        {"data before identification", {data, id, data}, {id, data}, 3, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const tracker::IntakeCounts& counts = m_listener->counts();
        const std::uint64_t acknowledged = counts.acknowledged.get();
        const std::uint64_t dropped = counts.dropped(), withheld = counts.withheld.get();
        const std::uint64_t wrongChecksum = counts.wrongChecksum.get();
        auto t = connect();
        Bytes stream;
        for (const Bytes& p : row.sent)
            stream.insert(stream.end(), p.begin(), p.end());
        ASSERT_TRUE(t->send(stream));
        for (const Bytes& p : row.acknowledged)
            EXPECT_EQ(ackFor(p), t->receive(3));
        EXPECT_EQ(row.queued, takeRecords().size());
        EXPECT_EQ(row.dropped, counts.dropped() - dropped);
        EXPECT_EQ(row.dropped, counts.wrongChecksum.get() - wrongChecksum); // all are checksums
        EXPECT_EQ(row.withheld, counts.withheld.get() - withheld);
        // Counted once sent, just after the tracker may have read it.
        EXPECT_TRUE(fakes::eventually(
            [&] { return counts.acknowledged.get() - acknowledged == row.acknowledged.size(); }));
    }
}

TEST_F(TrackerListenerTest, IdleWorkerIsReusedWithAFreshImeiField)
{
    {
        auto t = connect();
        exchange(*t, fakes::makeIdentification(kImeiA));
    }
    ASSERT_TRUE(waitNotices(1));
    ASSERT_TRUE(fakes::eventually([&] { return m_listener->servingCount() == 0; }));
    auto t = connect();
    exchange(*t, fakes::makePacket(0, {}));
    auto r = takeRecords();
    ASSERT_EQ(2u, r.size());
    EXPECT_EQ(0, r[1].imeiField[0]);
    EXPECT_NE(r[0].connection, r[1].connection);
    EXPECT_EQ(1u, m_listener->poolSize());
}

TEST_F(TrackerListenerTest, TwoTrackersAtOnceUseTwoWorkersAndAThirdReusesAFreedOne)
{
    Bytes p = fakes::makePacket(0, {1});
    auto a = connect();
    auto b = connect();
    ASSERT_TRUE(a->send(p));
    ASSERT_TRUE(b->send(p));
    EXPECT_EQ(ackFor(p), a->receive(3));
    EXPECT_EQ(ackFor(p), b->receive(3));
    EXPECT_EQ(2u, m_listener->poolSize());
    EXPECT_EQ(2u, m_listener->servingCount());
    a.reset();
    ASSERT_TRUE(waitNotices(1));
    ASSERT_TRUE(fakes::eventually([&] { return m_listener->servingCount() == 1; }));
    auto c = connect();
    exchange(*c, p);
    exchange(*b, p);
    EXPECT_EQ(2u, m_listener->poolSize());
}

TEST_F(TrackerListenerTest, PeerCloseEndsTheConnectionWithinOneReadCycle)
{
    // The real wait: the close must not have to wait it out.
    restartListener([](tracker::ListenerOptions& o) { o.receiveWaitMs = 5000; });
    auto t = connect();
    exchange(*t, fakes::makePacket(0, {}));
    auto started = std::chrono::steady_clock::now();
    t->close();
    ASSERT_TRUE(waitNotices(1, 4000));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(4000));
}

TEST_F(TrackerListenerTest, InactivityLimitIs180000MsAfterTheLastGoodPacket)
{
    auto t = connect();
    exchange(*t, fakes::makeIdentification(kImeiA)); // past the identification limit's reach
    Bytes good = fakes::makePacket(0, {});

    // A good packet every 60 s keeps it open although most reads time out.
    for (int i = 0; i < 5; ++i) {
        m_clock.advanceMs(60000);
        ASSERT_TRUE(limitsChecked());
        ASSERT_FALSE(t->closedByPeer(0));
        exchange(*t, good);
    }

    // Exactly the limit does not end it; a wrong checksum does not renew it (and gets no
    // acknowledgement: the close below must come with no bytes before it).
    m_clock.advanceMs(170000);
    Bytes bad = good;
    bad.back() ^= 0xFF;
    ASSERT_TRUE(t->send(bad));
    ASSERT_TRUE(fakes::eventually([&] { return m_listener->counts().dropped() == 1; }));
    expectClosedOnlyAfter(*t, 10000, 0.01);
}

TEST_F(TrackerListenerTest, SilentTrackerIsDroppedAfterTheLimitSinceAccept)
{
    restartListener([](tracker::ListenerOptions& o) { o.identifyLimitMs = 1e9; }); // apart
    auto t = connect();
    // The Connect line is written once the worker has noted the time of the accept.
    ASSERT_TRUE(
        fakes::eventually([&] { return dayLogText().find("Connect") != std::string::npos; }));
    expectClosedOnlyAfter(*t, 179999, 2);
}

TEST_F(TrackerListenerTest, ExactlyOneNoticePerConnectionWithNumbersNeverReused)
{
    Bytes p = fakes::makePacket(0, {});
    std::set<std::uint32_t> recorded;
    for (int i = 0; i < 20; ++i) {
        auto t = connect();
        exchange(*t, p);
        if (i % 2 == 0) {
            t->close();
        } else {
            m_clock.advanceMs(180001);
            ASSERT_TRUE(t->closedByPeer());
        }
        ASSERT_TRUE(waitNotices(static_cast<std::size_t>(i) + 1));
        for (auto& r : takeRecords())
            recorded.insert(r.connection);
    }
    auto open = connect(); // ended by the stop
    exchange(*open, p);
    stopListener(); // joins every worker: no notice can come after this
    for (auto c : takeNotices())
        m_notices.push_back(c);
    EXPECT_EQ(21u, m_notices.size());
    std::set<std::uint32_t> distinct(m_notices.begin(), m_notices.end());
    EXPECT_EQ(21u, distinct.size());
    recorded.insert(takeRecords().at(0).connection);
    EXPECT_EQ(distinct, recorded); // each record names its own connection's number
}

TEST_F(TrackerListenerTest, DayLogHasConnectAndDisconnectWithTheSocketHandle)
{
    auto t = connect();
    exchange(*t, fakes::makePacket(0, {}));
    t->close();
    ASSERT_TRUE(waitNotices(1));
    ASSERT_TRUE(fakes::eventually([&] { return m_listener->servingCount() == 0; }));
    std::string log = dayLogText();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        log, m, std::regex("9:51:34 Connect (\\d+)\r\n9:51:34 Disconnect (\\d+)\r\n")))
        << log;
    EXPECT_EQ(m[1], m[2]);
}

TEST_F(TrackerListenerTest, FullQueueGetsNoAckAndKeepsTheConnection)
{
    Bytes filler(20, 0);
    for (std::size_t i = 0; i < tracker::kPacketQueueCapacity; ++i)
        ASSERT_TRUE(m_listener->queue().pushPacket(filler.data(), filler.size(), 0));
    auto t = connect();
    Bytes p = fakes::makePacket(0, {0x33}), after = fakes::makePacket(0, {0x44});
    ASSERT_TRUE(t->send(p));
    ASSERT_TRUE(
        fakes::eventually([&] { return m_listener->counts().refusedQueueFull.get() == 1; }));
    m_listener->queue().popPacket();
    m_listener->queue().popPacket();
    ASSERT_TRUE(t->send(p)); // the tracker repeats what was not acknowledged
    ASSERT_TRUE(t->send(after));
    // Had the refused one been acknowledged, its acknowledgement would come first.
    EXPECT_EQ(ackFor(p), t->receive(3));
    EXPECT_EQ(ackFor(after), t->receive(3));
}

TEST_F(TrackerListenerTest, ListeningFlagStaysClearWhenThePortIsTaken)
{
    tracker::TrackerListener second(m_dayLog);
    second.setPort(m_port);
    ASSERT_TRUE(second.start());
    EXPECT_FALSE(
        second.waitOpenAttempt(std::chrono::milliseconds(5000))); // the failure ends the wait
    EXPECT_FALSE(second.listening());
    second.stop();
    EXPECT_TRUE(m_listener->listening());
}
