// tests/tracker/PacketReaderTest.cpp: cutting packets from what the connection delivers,
// however it is split.
#include "tracker/PacketReader.h"

#include <numeric>
#include <random>

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"
#include "tests/fakes/ScriptedSource.h"
#include "tracker/Crc16.h"
#include "tracker/PacketIntake.h"

using namespace tracker;
using fakes::fromHex;

namespace {

class PacketReaderTest : public ::testing::Test
{
protected:
    // Steps until something other than Partial comes.
    CycleResult next()
    {
        CycleResult r;
        while ((r = m_reader.step(m_source)) == CycleResult::Partial) {
        }
        return r;
    }

    static Bytes joined(const Bytes& a, const Bytes& b)
    {
        Bytes out = a;
        out.insert(out.end(), b.begin(), b.end());
        return out;
    }

    fakes::ScriptedSource m_source;
    PacketReader m_reader;
};

} // namespace

TEST_F(PacketReaderTest, WrongChecksumDropsPacketAndNextTwoBytesAreTheNextHeader)
{
    Bytes bad = fromHex("04 04 00 01 19 07 EB CE");
    Bytes good = fakes::makePacket(0, {});
    m_source.bytes(joined(bad, good));
    EXPECT_EQ(CycleResult::WrongChecksum, next());
    ASSERT_EQ(CycleResult::Packet, next());
    EXPECT_EQ(good, m_reader.packet());
}

// Whole or however split, a packet is completed, each receive asking only for what it still
// lacks (so the next packet's bytes stay in the source), and the next packet follows, whole in
// two receives. Split in its header, it was dropped: the header read got one byte and gave up.
// Split in its body, it was dropped and its tail read as the next header.
TEST_F(PacketReaderTest, PacketIsAssembledHoweverSplitAndTheNextOneFollows)
{
    struct Row
    {
        const char* name;
        Bytes packet;
        std::vector<std::size_t> cuts; // where the pieces end, each piece its own receive
        std::vector<std::size_t> asks; // what each receive for the packet asks
    };
    const Bytes id = fakes::makeIdentification(fakes::kWorkedImei);
    const Bytes big = fakes::makePacket(2, Bytes(700, 7)), after = fakes::workedDataPacket();
    std::vector<std::size_t> everyByte(id.size()), countdown = {2, 1};
    std::iota(everyByte.begin(), everyByte.end(), 1);
    for (std::size_t n = id.size() - 2; n > 0; --n)
        countdown.push_back(n);
    const Row rows[] = {
        {"whole, the next one right behind", fromHex("04 04 00 01 19 07 EB CD"), {}, {2, 6}},
        {"in its header", id, {1, 40}, {2, 1, 38}},
        {"in its body, the next one right behind", big, {50, 400}, {2, 702, 654, 304}},
        {"one byte at a time", id, everyByte, countdown},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes stream = joined(row.packet, after); // the pieces are cut from both
        std::size_t from = 0;
        for (std::size_t cut : row.cuts) {
            m_source.bytes(Bytes(stream.begin() + from, stream.begin() + cut));
            from = cut;
        }
        m_source.bytes(Bytes(stream.begin() + from, stream.end()));
        m_source.asked.clear();
        ASSERT_EQ(CycleResult::Packet, next());
        EXPECT_EQ(row.packet, m_reader.packet());
        EXPECT_EQ(row.asks, m_source.asked);
        EXPECT_EQ(after, m_source.unread());
        ASSERT_EQ(CycleResult::Packet, next());
        EXPECT_EQ(after, m_reader.packet());
        EXPECT_EQ(row.asks.size() + 2, m_source.asked.size());
    }
}

TEST_F(PacketReaderTest, PacketStalledForAWholeWaitIsDroppedAndTheNextBytesStartAHeader)
{
    Bytes p = fakes::makePacket(2, Bytes(100, 7)), good = fakes::makePacket(0, {9});
    for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{50}}) {
        m_source.bytes(Bytes(p.begin(), p.begin() + static_cast<long>(cut)));
        m_source.status(ReceiveStatus::TimedOut);
        m_source.bytes(good);
        EXPECT_EQ(CycleResult::Dropped, next()) << cut;
        EXPECT_FALSE(m_reader.assembling());
        ASSERT_EQ(CycleResult::Packet, next()) << cut;
        EXPECT_EQ(good, m_reader.packet());
    }
    EXPECT_EQ(CycleResult::Idle, next()); // a wait with nothing begun drops nothing
}

TEST_F(PacketReaderTest, ClosedFailedOrWaitFailedEndTheConnectionWhereverTheyCome)
{
    for (ReceiveStatus s :
         {ReceiveStatus::Closed, ReceiveStatus::Failed, ReceiveStatus::WaitFailed}) {
        for (long held : {0, 1, 2, 10}) {
            const Bytes p = fakes::makePacket(2, Bytes(20, 1));
            fakes::ScriptedSource source;
            source.bytes(Bytes(p.begin(), p.begin() + held));
            source.status(s);
            PacketReader reader;
            CycleResult r;
            while ((r = reader.step(source)) == CycleResult::Partial) {
            }
            EXPECT_EQ(CycleResult::Ended, r) << held;
            EXPECT_FALSE(reader.assembling());
        }
    }
}

TEST_F(PacketReaderTest, TellsWhenAnIdentificationPacketIsArriving)
{
    Bytes id = fakes::makeIdentification(fakes::kWorkedImei), data = fakes::workedDataPacket();
    m_source.bytesOneByOne(Bytes(id.begin(), id.begin() + 3));
    m_source.status(ReceiveStatus::TimedOut);
    m_source.bytesOneByOne(Bytes(data.begin(), data.begin() + 3));
    EXPECT_EQ(CycleResult::Partial, m_reader.step(m_source));
    EXPECT_FALSE(m_reader.assemblingIdentification()); // the type is in the second byte
    EXPECT_EQ(CycleResult::Partial, m_reader.step(m_source));
    EXPECT_TRUE(m_reader.assemblingIdentification());
    EXPECT_EQ(CycleResult::Partial, m_reader.step(m_source));
    EXPECT_EQ(CycleResult::Dropped, m_reader.step(m_source));
    EXPECT_FALSE(m_reader.assemblingIdentification());
    EXPECT_EQ(CycleResult::Partial, m_reader.step(m_source));
    EXPECT_EQ(CycleResult::Partial, m_reader.step(m_source));
    EXPECT_FALSE(m_reader.assemblingIdentification());
}

TEST_F(PacketReaderTest, LargestPacketFitsAndBufferIsReused)
{
    Bytes big = fakes::makePacket(7, Bytes(1023, 0x5A), 7);
    ASSERT_EQ(kMaxPacketSize, big.size());
    m_source.bytes(big);
    m_source.bytes(fakes::makePacket(0, {}));
    ASSERT_EQ(CycleResult::Packet, next());
    EXPECT_EQ(big, m_reader.packet());
    const std::uint8_t* storage = m_reader.packet().data();
    ASSERT_EQ(CycleResult::Packet, next());
    EXPECT_EQ(4u, m_reader.packet().size());
    EXPECT_EQ(storage, m_reader.packet().data());
}

// The reader and the intake are the seam a fuzz target drives; these feed them the way one
// would, with seeded random input.
class PacketReaderRandomTest : public ::testing::Test
{
protected:
    // Splits bytes into pieces of 1..maxPiece, each its own receive.
    void feedInPieces(const Bytes& bytes, std::size_t maxPiece)
    {
        for (std::size_t at = 0; at < bytes.size();) {
            std::size_t n = std::min<std::size_t>(1 + m_rng() % maxPiece, bytes.size() - at);
            m_source.bytes(Bytes(bytes.begin() + static_cast<long>(at),
                                 bytes.begin() + static_cast<long>(at + n)));
            at += n;
        }
        m_source.status(ReceiveStatus::Closed);
    }

    std::mt19937 m_rng{20170503};
    fakes::ScriptedSource m_source;
    PacketReader m_reader;
};

TEST_F(PacketReaderRandomTest, AnySplitOfAStreamYieldsItsPacketsInOrder)
{
    std::vector<Bytes> sent;
    Bytes stream;
    for (int i = 0; i < 300; ++i) {
        Bytes body(m_rng() % 1024);
        for (auto& b : body)
            b = static_cast<std::uint8_t>(m_rng());
        sent.push_back(fakes::makePacket(m_rng() % 8, body));
        stream.insert(stream.end(), sent.back().begin(), sent.back().end());
    }
    feedInPieces(stream, 1500);
    std::vector<Bytes> got;
    for (CycleResult r; (r = m_reader.step(m_source)) != CycleResult::Ended;) {
        ASSERT_NE(CycleResult::Dropped, r);
        ASSERT_NE(CycleResult::WrongChecksum, r);
        if (r == CycleResult::Packet)
            got.push_back(m_reader.packet());
    }
    EXPECT_EQ(sent, got);
}

TEST_F(PacketReaderRandomTest, ArbitraryBytesYieldOnlyWholeCheckedPacketsAndRecords)
{
    // Good packets, damaged ones and stray bytes mixed, as a fuzzer's mutations would.
    Bytes junk;
    for (int i = 0; i < 3000; ++i) {
        Bytes body(m_rng() % 40);
        for (auto& b : body)
            b = static_cast<std::uint8_t>(m_rng());
        Bytes piece = fakes::makePacket(m_rng() % 8, body);
        switch (m_rng() % 4) {
        case 0:
            piece[m_rng() % piece.size()] ^= static_cast<std::uint8_t>(1 + m_rng() % 255);
            break;
        case 1:
            piece.resize(1 + m_rng() % 3);
            break;
        }
        junk.insert(junk.end(), piece.begin(), piece.end());
    }
    feedInPieces(junk, 64);
    HandoverQueue queue;
    PacketIntake intake(queue);
    intake.begin(1);
    std::size_t packets = 0, taken = 0;
    for (CycleResult r; (r = m_reader.step(m_source)) != CycleResult::Ended;) {
        if (r != CycleResult::Packet)
            continue;
        const Bytes& p = m_reader.packet();
        ASSERT_GE(p.size(), kHeaderSize + kChecksumSize);
        ASSERT_EQ(kHeaderSize + bodyLength(readU16(p.data())) + kChecksumSize, p.size());
        ASSERT_TRUE(checksumMatches(p.data(), p.size()));
        ++packets;
        Taken t = intake.take(p.data(), p.size());
        if (t == Taken::Acknowledge) {
            EXPECT_EQ(buildAcknowledgement(p.data(), p.size()), intake.acknowledgement());
        }
        Bytes record;
        std::uint32_t connection = 0;
        ASSERT_TRUE(queue.peekPacket(&record, &connection));
        queue.popPacket();
        EXPECT_TRUE(std::equal(p.begin(), p.end(), record.begin() + kImeiFieldSize));
        ++taken;
    }
    EXPECT_GT(packets, 0u); // at least those before the first damaged length misleads it
    EXPECT_EQ(packets, taken);
}
