// tests/tracker/TrackerListenerTest.cpp: the listener and its workers against real loopback
// trackers.
#include "tracker/TrackerListener.h"

#include <regex>
#include <set>
#include <thread>

#include "tests/tracker/IntakeFixture.h"

using fakes::Bytes;
using fakes::fromHex;

class TrackerListenerTest : public IntakeFixture
{
};

TEST_F(TrackerListenerTest, AcknowledgesWorkedPacketAndQueuesItUnidentified)
{
    auto t = connect();
    Bytes p = fromHex("04 04 00 01 19 07 EB CD");
    ASSERT_TRUE(t->send(p));
    EXPECT_EQ(fromHex("01 EB CD"), t->receive(3));
    auto records = takeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(0, records[0].imeiField[0]);
    EXPECT_EQ(p, records[0].packet);
}

TEST_F(TrackerListenerTest, WrongChecksumGetsNoAckAndNextTwoBytesAreTheNextHeader)
{
    auto t = connect();
    Bytes stream = fromHex("04 04 00 01 19 07 CD EB");
    Bytes good = fakes::makePacket(0, {});
    stream.insert(stream.end(), good.begin(), good.end());
    ASSERT_TRUE(t->send(stream));
    EXPECT_EQ(ackFor(good), t->receive(3));
    EXPECT_TRUE(t->receive(1, 100).empty());
    auto records = takeRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(good, records[0].packet);
}

TEST_F(TrackerListenerTest, EveryPacketTypeIsAcknowledged)
{
    auto t = connect();
    for (unsigned type : {0u, 3u, 4u, 5u, 6u, 7u}) {
        Bytes p = fakes::makePacket(type, {static_cast<std::uint8_t>(type), 0x42});
        ASSERT_TRUE(t->send(p));
        EXPECT_EQ(ackFor(p), t->receive(3)) << "type " << type;
    }
    EXPECT_EQ(6u, takeRecords().size());
}

TEST_F(TrackerListenerTest, RecordsCarryTheImeiOfTheLatestIdentification)
{
    auto t = connect();
    Bytes data = fakes::workedDataPacket();
    Bytes idA = fakes::makeIdentification(kImeiA), idB = fakes::makeIdentification(kImeiB);
    for (const Bytes& p : {idA, data, idB, data})
        exchange(*t, p);
    auto r = takeRecords();
    ASSERT_EQ(4u, r.size());
    EXPECT_EQ(imeiField(kImeiA), r[0].imeiField);
    EXPECT_EQ(imeiField(kImeiA), r[1].imeiField);
    EXPECT_EQ(imeiField(kImeiB), r[2].imeiField);
    EXPECT_EQ(imeiField(kImeiB), r[3].imeiField);
    EXPECT_EQ(idB, r[2].packet);
    for (auto& rec : r)
        EXPECT_EQ(r[0].connection, rec.connection);
}

// Its records could never be delivered (they name no tracker), yet it was acknowledged.
TEST_F(TrackerListenerTest, DataPacketBeforeIdentificationIsQueuedButNotAcknowledged)
{
    auto t = connect();
    Bytes data = fakes::workedDataPacket(), id = fakes::makeIdentification(kImeiA);
    ASSERT_TRUE(t->send(data));
    exchange(*t, id);   // the first three bytes back are this packet's acknowledgement
    exchange(*t, data); // sent again, now under the IMEI
    EXPECT_EQ(1u, m_listener->counts().withheld.get());
    // Counted once sent, just after the tracker may have read it.
    EXPECT_TRUE(fakes::eventually([&] { return m_listener->counts().acknowledged.get() == 2; }));
    auto r = takeRecords();
    ASSERT_EQ(3u, r.size());
    EXPECT_EQ(0, r[0].imeiField[0]); // still in the day log's hex lines
    EXPECT_EQ(data, r[0].packet);
    EXPECT_EQ(imeiField(kImeiA), r[2].imeiField);
}

TEST_F(TrackerListenerTest, IdentificationTooShortForAnImeiLeavesTheFieldAsItWas)
{
    auto t = connect();
    Bytes idA = fakes::makeIdentification(kImeiA);
    Bytes shortId = fakes::makePacket(1, Bytes(15, '9')); // 19 bytes
    Bytes shortFirst = fakes::makePacket(1, Bytes(3, '7'));
    for (const Bytes& p : {shortFirst, idA, shortId})
        exchange(*t, p);
    auto r = takeRecords();
    ASSERT_EQ(3u, r.size());
    EXPECT_EQ(0, r[0].imeiField[0]);
    EXPECT_EQ(imeiField(kImeiA), r[2].imeiField);
    EXPECT_EQ(shortId, r[2].packet);
}

TEST_F(TrackerListenerTest, IdleWorkerIsReusedWithAFreshImeiField)
{
    {
        auto t = connect();
        Bytes id = fakes::makeIdentification(kImeiA);
        ASSERT_TRUE(t->send(id));
        ASSERT_EQ(ackFor(id), t->receive(3));
    }
    ASSERT_TRUE(waitNotices(1));
    ASSERT_TRUE(fakes::eventually([&] { return m_listener->servingCount() == 0; }));
    auto t = connect();
    Bytes p = fakes::makePacket(0, {});
    exchange(*t, p);
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
    ASSERT_TRUE(c->send(p));
    EXPECT_EQ(ackFor(p), c->receive(3));
    ASSERT_TRUE(b->send(p));
    EXPECT_EQ(ackFor(p), b->receive(3));
    EXPECT_EQ(2u, m_listener->poolSize());
}

TEST_F(TrackerListenerTest, PeerCloseEndsTheConnectionWithinOneReadCycle)
{
    // The real wait: the close must not have to wait it out.
    restartListener([](tracker::ListenerOptions& o) { o.receiveWaitMs = 5000; });
    auto t = connect();
    Bytes p = fakes::makePacket(0, {});
    ASSERT_TRUE(t->send(p));
    ASSERT_EQ(ackFor(p), t->receive(3));
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
        ASSERT_FALSE(t->closedByPeer(60));
        ASSERT_TRUE(t->send(good));
        ASSERT_EQ(ackFor(good), t->receive(3));
    }

    // Exactly the limit does not end it; a wrong checksum does not renew it.
    m_clock.advanceMs(170000);
    Bytes bad = good;
    bad.back() ^= 0xFF;
    ASSERT_TRUE(t->send(bad));
    EXPECT_TRUE(t->receive(3, 100).empty());
    m_clock.advanceMs(10000);
    EXPECT_FALSE(t->closedByPeer(150));
    m_clock.advanceMs(0.01);
    EXPECT_TRUE(t->closedByPeer(2000));
    ASSERT_TRUE(waitNotices(1));
}

TEST_F(TrackerListenerTest, SilentTrackerIsDroppedAfterTheLimitSinceAccept)
{
    restartListener([](tracker::ListenerOptions& o) { o.identifyLimitMs = 1e9; }); // apart
    auto t = connect();
    // The Connect line is written once the worker has noted the time of the accept.
    ASSERT_TRUE(
        fakes::eventually([&] { return dayLogText().find("Connect") != std::string::npos; }));
    m_clock.advanceMs(179999);
    EXPECT_FALSE(t->closedByPeer(100));
    m_clock.advanceMs(2);
    EXPECT_TRUE(t->closedByPeer(2000));
    ASSERT_TRUE(waitNotices(1));
}

TEST_F(TrackerListenerTest, ExactlyOneNoticePerConnectionWithNumbersNeverReused)
{
    Bytes p = fakes::makePacket(0, {});
    std::set<std::uint32_t> recorded;
    for (int i = 0; i < 20; ++i) {
        auto t = connect();
        ASSERT_TRUE(t->send(p));
        ASSERT_EQ(ackFor(p), t->receive(3));
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
    ASSERT_TRUE(open->send(p));
    ASSERT_EQ(ackFor(p), open->receive(3));
    stopListener();
    ASSERT_TRUE(waitNotices(21));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(takeNotices().empty());
    EXPECT_EQ(21u, m_notices.size());
    std::set<std::uint32_t> distinct(m_notices.begin(), m_notices.end());
    EXPECT_EQ(21u, distinct.size());
    recorded.insert(takeRecords().at(0).connection);
    EXPECT_EQ(distinct, recorded); // each record names its own connection's number
}

TEST_F(TrackerListenerTest, DayLogHasConnectAndDisconnectWithTheSocketHandle)
{
    auto t = connect();
    Bytes p = fakes::makePacket(0, {});
    ASSERT_TRUE(t->send(p));
    ASSERT_EQ(ackFor(p), t->receive(3));
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
    Bytes p = fakes::makePacket(0, {0x33});
    ASSERT_TRUE(t->send(p));
    EXPECT_TRUE(t->receive(3, 150).empty());
    EXPECT_FALSE(t->closedByPeer(50));
    m_listener->queue().popPacket();
    ASSERT_TRUE(t->send(p)); // the tracker repeats what was not acknowledged
    EXPECT_EQ(ackFor(p), t->receive(3));
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

// The identification packet the full queue refused had already set the IMEI, so the next data
// packet was acknowledged under a tracker the dispatcher never saw, and lost.
TEST_F(TrackerListenerTest, DataAfterAnIdentificationTheFullQueueRefusedIsNotAcknowledged)
{
    Bytes filler(20, 0);
    while (m_listener->queue().pushPacket(filler.data(), filler.size(), 0) != 0) {
    }
    auto t = connect();
    Bytes id = fakes::makeIdentification(kImeiA), data = fakes::workedDataPacket();
    Bytes other = fakes::makePacket(0, {7});
    ASSERT_TRUE(t->send(id));
    ASSERT_TRUE(
        fakes::eventually([&] { return m_listener->counts().refusedQueueFull.get() == 1; }));
    for (int i = 0; i < 2; ++i)
        m_listener->queue().popPacket(); // room for what follows, not for the refused one
    ASSERT_TRUE(t->send(data));
    exchange(*t, other); // the first acknowledgement back is this one's
    auto r = takeRecords();
    ASSERT_EQ(tracker::kPacketQueueCapacity, r.size());
    EXPECT_EQ(data, r[r.size() - 2].packet);
    EXPECT_EQ(0, r[r.size() - 2].imeiField[0]);
}
