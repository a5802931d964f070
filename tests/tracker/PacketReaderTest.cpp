// tests/tracker/PacketReaderTest.cpp: cutting packets from what the connection delivers.
#include "tracker/PacketReader.h"

#include <deque>

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"

using namespace tracker;
using fakes::fromHex;

namespace {

// Plays back scripted receive results: each step is either bytes (delivered up to the asked
// count, the rest kept for the next receive) or a status.
class ScriptedSource final : public ByteSource
{
public:
    void bytes(const Bytes& b) { m_steps.push_back({ReceiveStatus::Data, b}); }
    void status(ReceiveStatus s) { m_steps.push_back({s, {}}); }

    ReceiveStatus receive(std::uint8_t* buffer, std::size_t count, std::size_t* received) override
    {
        ++calls;
        *received = 0;
        if (m_steps.empty())
            return ReceiveStatus::TimedOut;
        Step& step = m_steps.front();
        if (step.status != ReceiveStatus::Data) {
            ReceiveStatus s = step.status;
            m_steps.pop_front();
            return s;
        }
        std::size_t n = std::min(count, step.data.size());
        std::copy_n(step.data.begin(), n, buffer);
        step.data.erase(step.data.begin(), step.data.begin() + static_cast<long>(n));
        if (step.data.empty())
            m_steps.pop_front();
        *received = n;
        return ReceiveStatus::Data;
    }

    int calls = 0;

private:
    struct Step
    {
        ReceiveStatus status;
        Bytes data;
    };
    std::deque<Step> m_steps;
};

class PacketReaderTest : public ::testing::Test
{
protected:
    ScriptedSource m_source;
    Bytes m_buffer;
};

} // namespace

TEST_F(PacketReaderTest, CutsBackToBackPacketsInTwoReceivesEach)
{
    Bytes a = fromHex("04 04 00 01 19 07 EB CD"), b = fakes::workedDataPacket();
    Bytes stream = a;
    stream.insert(stream.end(), b.begin(), b.end());
    m_source.bytes(stream);
    ASSERT_EQ(CycleResult::Packet, readPacket(m_source, m_buffer));
    EXPECT_EQ(a, m_buffer);
    ASSERT_EQ(CycleResult::Packet, readPacket(m_source, m_buffer));
    EXPECT_EQ(b, m_buffer);
    EXPECT_EQ(4, m_source.calls);
}

TEST_F(PacketReaderTest, WrongChecksumDropsPacketAndNextTwoBytesAreTheNextHeader)
{
    Bytes bad = fromHex("04 04 00 01 19 07 EB CE");
    Bytes good = fakes::makePacket(0, {});
    bad.insert(bad.end(), good.begin(), good.end());
    m_source.bytes(bad);
    EXPECT_EQ(CycleResult::Nothing, readPacket(m_source, m_buffer));
    ASSERT_EQ(CycleResult::Packet, readPacket(m_source, m_buffer));
    EXPECT_EQ(good, m_buffer);
}

TEST_F(PacketReaderTest, LoneHeaderByteIsLost)
{
    m_source.bytes({0x04});
    m_source.status(ReceiveStatus::TimedOut); // ends the single-byte step's receive
    Bytes good = fakes::makePacket(0, {9});
    m_source.bytes(good);
    EXPECT_EQ(CycleResult::Nothing, readPacket(m_source, m_buffer));
    EXPECT_EQ(CycleResult::Nothing, readPacket(m_source, m_buffer)); // the time-out
    ASSERT_EQ(CycleResult::Packet, readPacket(m_source, m_buffer));
    EXPECT_EQ(good, m_buffer);
}

TEST_F(PacketReaderTest, BodyShorterThanPromisedIsDroppedWithoutASecondRead)
{
    Bytes packet = fakes::makePacket(2, Bytes(100, 7));
    m_source.bytes(Bytes(packet.begin(), packet.begin() + 50));
    m_source.bytes(Bytes(packet.begin() + 50, packet.end()));
    EXPECT_EQ(CycleResult::Nothing, readPacket(m_source, m_buffer));
    EXPECT_EQ(2, m_source.calls);
}

TEST_F(PacketReaderTest, ClosedFailedOrWaitFailedEndTheConnectionAtEitherRead)
{
    for (ReceiveStatus s :
         {ReceiveStatus::Closed, ReceiveStatus::Failed, ReceiveStatus::WaitFailed}) {
        ScriptedSource atHeader;
        atHeader.status(s);
        EXPECT_EQ(CycleResult::Ended, readPacket(atHeader, m_buffer));
        ScriptedSource atBody;
        atBody.bytes({0x04, 0x04});
        atBody.status(s);
        EXPECT_EQ(CycleResult::Ended, readPacket(atBody, m_buffer));
    }
}

TEST_F(PacketReaderTest, LargestPacketFitsAndBufferIsReused)
{
    Bytes big = fakes::makePacket(7, Bytes(1023, 0x5A), 7);
    ASSERT_EQ(kMaxPacketSize, big.size());
    m_source.bytes(big);
    m_source.bytes(fakes::makePacket(0, {}));
    ASSERT_EQ(CycleResult::Packet, readPacket(m_source, m_buffer));
    EXPECT_EQ(big, m_buffer);
    const std::uint8_t* storage = m_buffer.data();
    ASSERT_EQ(CycleResult::Packet, readPacket(m_source, m_buffer));
    EXPECT_EQ(4u, m_buffer.size());
    EXPECT_EQ(storage, m_buffer.data());
}
