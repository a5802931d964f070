// tests/tracker/TrackerListenerKeptTest.cpp: workers that acknowledge a packet only once the queue
// reports its record kept.
#include "tracker/TrackerListener.h"

#include "tests/tracker/IntakeFixture.h"

using fakes::Bytes;

class TrackerListenerKeptTest : public IntakeFixture
{
protected:
    void startKept(int keptWaitMs)
    {
        restartListener([keptWaitMs](tracker::ListenerOptions& o) {
            o.ackWhenKept = true;
            o.keptWaitMs = keptWaitMs;
        });
    }

    // Takes what the queue holds into m_held; true once n records in all have been queued.
    bool waitQueued(std::size_t n)
    {
        return fakes::eventually([&] {
            for (auto& r : takeRecords())
                m_held.push_back(r.packet);
            return m_held.size() >= n;
        });
    }

    std::vector<Bytes> m_held; // records taken off the queue so far
};

TEST_F(TrackerListenerKeptTest, AcknowledgesOnceTheRecordIsKept)
{
    startKept(60000);
    auto t = connect();
    Bytes id = fakes::makeIdentification("356307042441013");
    ASSERT_TRUE(t->send(id));
    ASSERT_TRUE(waitQueued(1));
    m_listener->queue().markKept(1);
    EXPECT_EQ(ackFor(id), t->receive(3));
}

TEST_F(TrackerListenerKeptTest, NotKeptInTimeGetsNoAckAndTheRepeatIsAcknowledgedOnceKept)
{
    startKept(50);
    auto t = connect();
    Bytes first = fakes::makePacket(0, {1}), second = fakes::makePacket(0, {2});
    ASSERT_TRUE(t->send(first));
    ASSERT_TRUE(waitQueued(1));
    ASSERT_TRUE(t->send(first)); // the tracker repeats it; read once the wait has run out
    ASSERT_TRUE(waitQueued(2));
    m_listener->queue().markKept(3);
    ASSERT_TRUE(t->send(second));
    // The repeat's wait may have run out before the mark too; then only the second is
    // acknowledged. Either way no acknowledgement came for the first sending.
    Bytes acks = t->receive(3);
    if (acks == ackFor(first))
        acks = t->receive(3);
    EXPECT_EQ(ackFor(second), acks);
    ASSERT_TRUE(waitQueued(3)); // what was not acknowledged is delivered all the same
    EXPECT_EQ(first, m_held[1]);
}

TEST_F(TrackerListenerKeptTest, StopReleasesAWorkerWaitingForKept)
{
    startKept(600000);
    auto t = connect();
    ASSERT_TRUE(t->send(fakes::makePacket(0, {})));
    ASSERT_TRUE(waitQueued(1));
    stopListener();                 // returns only once the worker has ended
    EXPECT_TRUE(t->closedByPeer()); // without an acknowledgement first
    ASSERT_TRUE(waitNotices(1));
    EXPECT_EQ(1u, m_held.size());
}
