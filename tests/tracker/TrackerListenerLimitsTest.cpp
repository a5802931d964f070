// tests/tracker/TrackerListenerLimitsTest.cpp: what keeps a flood of idle connections from locking
// trackers out: the ceiling takes the place of an unidentified connection, unidentified
// connections end after the identification limit, idle workers beyond a few end.
#include "tracker/TrackerListener.h"

#include "tests/tracker/IntakeFixture.h"

using fakes::Bytes;

class TrackerListenerLimitsTest : public IntakeFixture
{
protected:
    // Two connections that never identify themselves, one that has; all taken up by workers.
    struct Three
    {
        std::unique_ptr<fakes::TrackerClient> quiet, unidentified, identified;
    };
    Three connectThree()
    {
        Three t{connect(), connect(), connect()};
        exchange(*t.identified, fakes::makeIdentification(kImeiA));
        waitConnects(3);
        return t;
    }

    // Waits until the workers of n connections have noted their accept (their Connect line).
    void waitConnects(std::size_t n)
    {
        ASSERT_TRUE(fakes::eventually([&] { return dayLogLines(" Connect ") >= n; }));
    }
};

// At the ceiling every further connection was closed at once, so idle sockets that never
// identified themselves locked real trackers out for the whole inactivity limit.
TEST_F(TrackerListenerLimitsTest, FloodOfIdleConnectionsDoesNotLockTrackersOut)
{
    restartListener([](tracker::ListenerOptions& o) { o.maxConnections = 3; });
    Three t = connectThree();
    m_clock.advanceMs(1000);
    exchange(*t.unidentified, fakes::makePacket(0, {})); // active, though never identified

    auto arriving = connect(); // takes the place of the one idle longest
    EXPECT_TRUE(t.quiet->closedByPeer());
    ASSERT_TRUE(waitNotices(1));
    exchange(*arriving, fakes::makeIdentification(kImeiB));
    exchange(*t.unidentified, fakes::makePacket(0, {1}));
    exchange(*t.identified, fakes::workedDataPacket());
    EXPECT_TRUE(fakes::eventually([&] { return dayLogLines(" Disconnect ") == 1; }));
    EXPECT_EQ(3u, m_listener->servingCount());
    EXPECT_EQ(1u, m_listener->counts().evicted.get());
}

TEST_F(TrackerListenerLimitsTest, AtTheCeilingWithEveryConnectionIdentifiedTheNewOneIsRefused)
{
    restartListener([](tracker::ListenerOptions& o) { o.maxConnections = 2; });
    auto a = connect();
    auto b = connect();
    exchange(*a, fakes::makeIdentification(kImeiA));
    exchange(*b, fakes::makeIdentification(kImeiB));
    auto refused = connect();
    EXPECT_TRUE(refused->closedByPeer());
    exchange(*a, fakes::workedDataPacket());
    exchange(*b, fakes::workedDataPacket());
    EXPECT_TRUE(takeNotices().empty()); // a refused connection was never taken up
    EXPECT_EQ(1u, m_listener->counts().refusedAtCeiling.get());

    a.reset();
    ASSERT_TRUE(fakes::eventually([&] { return m_listener->servingCount() == 1; }));
    auto c = connect();
    exchange(*c, fakes::makePacket(0, {}));
}

TEST_F(TrackerListenerLimitsTest, ConnectionWithoutIdentificationEndsAfterTheLimit)
{
    Three t = connectThree();
    m_clock.advanceMs(20000);
    exchange(*t.unidentified, fakes::makePacket(0, {})); // good packets do not stand in for it
    m_clock.advanceMs(10001);
    EXPECT_TRUE(t.quiet->closedByPeer());
    EXPECT_TRUE(t.unidentified->closedByPeer());
    ASSERT_TRUE(waitNotices(2));
    EXPECT_TRUE(fakes::eventually([&] { return dayLogLines(" Disconnect ") == 2; }));
    exchange(*t.identified, fakes::workedDataPacket());
}

// A tracker trickling its identification packet is not cut off in the middle of it.
TEST_F(TrackerListenerLimitsTest, IdentificationStillArrivingAtTheLimitIsCompleted)
{
    restartListener([](tracker::ListenerOptions& o) { o.receiveWaitMs = 2000; });
    auto t = connect();
    waitConnects(1);
    Bytes id = fakes::makeIdentification(kImeiA);
    ASSERT_TRUE(t->send(Bytes(id.begin(), id.begin() + 10)));
    m_clock.advanceMs(60000);
    ASSERT_TRUE(t->send(Bytes(id.begin() + 10, id.begin() + 11))); // a check runs after it
    ASSERT_TRUE(t->send(Bytes(id.begin() + 11, id.end())));
    EXPECT_EQ(ackFor(id), t->receive(3));
    exchange(*t, fakes::workedDataPacket());
    EXPECT_TRUE(takeNotices().empty());
}

// After a flood the thousands of idle worker threads stayed for the life of the process.
TEST_F(TrackerListenerLimitsTest, IdleWorkersBeyondTheKeptOnesEnd)
{
    restartListener([](tracker::ListenerOptions& o) {
        o.keptIdleWorkers = 2;
        o.idleWorkerMs = 50;
    });
    {
        std::vector<std::unique_ptr<fakes::TrackerClient>> many;
        for (int i = 0; i < 6; ++i) {
            many.push_back(connect());
            exchange(*many.back(), fakes::makePacket(0, {}));
        }
        EXPECT_EQ(6u, m_listener->poolSize());
    }
    ASSERT_TRUE(waitNotices(6));
    EXPECT_TRUE(fakes::eventually([&] { return m_listener->poolSize() == 2; }));
    // The kept ones serve the next connections.
    auto a = connect();
    auto b = connect();
    exchange(*a, fakes::makePacket(0, {}));
    exchange(*b, fakes::makePacket(0, {}));
    EXPECT_EQ(2u, m_listener->poolSize());
    auto c = connect();
    exchange(*c, fakes::makePacket(0, {}));
    EXPECT_EQ(3u, m_listener->poolSize());
}
