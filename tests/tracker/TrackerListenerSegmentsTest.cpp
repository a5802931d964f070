// tests/tracker/TrackerListenerSegmentsTest.cpp: packets that reach the gateway in several TCP
// segments, as mobile networks deliver them, over loopback. Each piece is sent only once the
// gateway has read everything before it, so the pieces are read apart whatever the timing.
#include "tracker/TrackerListener.h"

#include <numeric>

#include "tests/tracker/IntakeFixture.h"

using fakes::Bytes;

namespace {

const std::string kImei = "356307042441013";

} // namespace

class TrackerListenerSegmentsTest : public IntakeFixture
{
protected:
    // Sends stream in pieces ending at the cuts (and a last one after them), each once the
    // gateway has read all bytes sent before it.
    void sendInPieces(fakes::TrackerClient& t, const Bytes& stream, std::vector<std::size_t> cuts)
    {
        const std::uint64_t before = m_listener->counts().bytesRead.get();
        cuts.push_back(stream.size());
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            ASSERT_TRUE(fakes::eventually(
                [&] { return m_listener->counts().bytesRead.get() - before == from; }));
            ASSERT_TRUE(t.send(Bytes(stream.begin() + from, stream.begin() + cut)));
            from = cut;
        }
    }
};

TEST_F(TrackerListenerSegmentsTest, SplitPacketsAreAcknowledgedAndQueued)
{
    // A wait that never runs out here: a piece must not be dropped before the next is sent.
    restartListener([](tracker::ListenerOptions& o) { o.receiveWaitMs = 600000; });
    const Bytes id = fakes::makeIdentification(kImei), data = fakes::workedDataPacket();
    std::vector<std::size_t> everyByte(id.size() + data.size() - 1);
    std::iota(everyByte.begin(), everyByte.end(), 1);
    struct Row
    {
        const char* name;
        std::vector<std::size_t> cuts; // in the identification packet and the data packet behind
    };
    const Row rows[] = {
        {"split in the identification's header (got no acknowledgement)", {1, id.size()}},
        {"split in the identification's body, the data packet right behind", {9}},
        {"one byte at a time (never got an acknowledgement)", everyByte},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto t = connect();
        Bytes stream = id;
        stream.insert(stream.end(), data.begin(), data.end());
        sendInPieces(*t, stream, row.cuts);
        EXPECT_EQ(ackFor(id), t->receive(3));
        EXPECT_EQ(ackFor(data), t->receive(3));
        auto r = takeRecords();
        ASSERT_EQ(2u, r.size());
        EXPECT_EQ(id, r[0].packet);
        EXPECT_EQ(data, r[1].packet);
        EXPECT_EQ(imeiField(kImei), r[1].imeiField);
    }
    EXPECT_EQ(0u, m_listener->counts().dropped());
}

TEST_F(TrackerListenerSegmentsTest, PacketStalledLongerThanTheWaitIsDropped)
{
    auto t = connect();
    // Were its part kept, the next packet would vanish into its body.
    Bytes stalled = fakes::makePacket(2, Bytes(100, 7)), next = fakes::makePacket(0, {1});
    ASSERT_TRUE(t->send(Bytes(stalled.begin(), stalled.begin() + 10)));
    ASSERT_TRUE(fakes::eventually([&] { return m_listener->counts().dropped() == 1; }));
    EXPECT_EQ(1u, m_listener->counts().stalled.get());
    EXPECT_EQ(0u, m_listener->counts().wrongChecksum.get());
    EXPECT_EQ(10u, m_listener->counts().bytesRead.get());
    exchange(*t, next);
    auto r = takeRecords();
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(next, r[0].packet);
}
