// tests/tracker/TrackerListenerSegmentsTest.cpp: packets that reach the gateway in several TCP
// segments, as mobile networks deliver them, over loopback with the waits shortened.
#include "tracker/TrackerListener.h"

#include <thread>

#include "tests/tracker/IntakeFixture.h"

using fakes::Bytes;
using namespace std::chrono_literals;

namespace {

const std::string kImei = "356307042441013";

// Read wait of the gateway in these tests, and the gap between a slow tracker's bytes: the
// gap stays well inside the wait even on a loaded machine.
constexpr int kWaitMs = 300;
constexpr auto kGap = 30ms;

} // namespace

class TrackerListenerSegmentsTest : public IntakeFixture
{
protected:
    void SetUp() override
    {
        startListener([](tracker::ListenerOptions& o) { o.receiveWaitMs = kWaitMs; });
    }

    // Sends the bytes from..to one at a time, kGap apart.
    static void trickle(fakes::TrackerClient& t, const Bytes& p, std::size_t from, std::size_t to)
    {
        for (std::size_t i = from; i < to; ++i) {
            std::this_thread::sleep_for(kGap);
            ASSERT_TRUE(t.send({p[i]}));
        }
    }
};

// An identification packet split after its first byte, with a gap, got no acknowledgement.
TEST_F(TrackerListenerSegmentsTest, PacketSplitInItsHeaderIsAcknowledged)
{
    auto t = connect();
    Bytes id = fakes::makeIdentification(kImei);
    ASSERT_TRUE(t->send({id[0]}));
    std::this_thread::sleep_for(kGap * 3);
    ASSERT_TRUE(t->send(Bytes(id.begin() + 1, id.end())));
    EXPECT_EQ(ackFor(id), t->receive(3));
    auto r = takeRecords();
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(id, r[0].packet);
}

TEST_F(TrackerListenerSegmentsTest, PacketSplitInItsBodyIsAcknowledgedAndTheNextFollows)
{
    auto t = connect();
    Bytes id = fakes::makeIdentification(kImei), data = fakes::workedDataPacket();
    ASSERT_TRUE(t->send(Bytes(id.begin(), id.begin() + 9)));
    std::this_thread::sleep_for(kGap * 3);
    Bytes rest(id.begin() + 9, id.end());
    rest.insert(rest.end(), data.begin(), data.end()); // the next packet right behind
    ASSERT_TRUE(t->send(rest));
    EXPECT_EQ(ackFor(id), t->receive(3));
    EXPECT_EQ(ackFor(data), t->receive(3));
    EXPECT_EQ(2u, takeRecords().size());
}

// A tracker sending one byte at a time never got an acknowledgement.
TEST_F(TrackerListenerSegmentsTest, TrackerSendingOneByteAtATimeIsAcknowledged)
{
    auto t = connect();
    Bytes id = fakes::makeIdentification(kImei), data = fakes::workedDataPacket();
    trickle(*t, id, 0, id.size());
    EXPECT_EQ(ackFor(id), t->receive(3));
    trickle(*t, data, 0, data.size());
    EXPECT_EQ(ackFor(data), t->receive(3));
    auto r = takeRecords();
    ASSERT_EQ(2u, r.size());
    EXPECT_EQ(imeiField(kImei), r[1].imeiField);
    EXPECT_EQ(data, r[1].packet);
}

TEST_F(TrackerListenerSegmentsTest, PacketStalledLongerThanTheWaitIsDropped)
{
    auto t = connect();
    // Were its part kept, the next packet would vanish into its body.
    Bytes stalled = fakes::makePacket(2, Bytes(100, 7)), next = fakes::makePacket(0, {1});
    trickle(*t, stalled, 0, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(kWaitMs * 4));
    ASSERT_TRUE(t->send(next));
    EXPECT_EQ(ackFor(next), t->receive(3));
    auto r = takeRecords();
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(next, r[0].packet);
}
