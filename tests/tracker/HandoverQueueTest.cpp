// tests/tracker/HandoverQueueTest.cpp
#include "tracker/HandoverQueue.h"

#include <gtest/gtest.h>

using namespace tracker;

namespace {

Bytes numbered(std::uint32_t n)
{
    Bytes b(20, 0);
    b[16] = static_cast<std::uint8_t>(n);
    b[17] = static_cast<std::uint8_t>(n >> 8);
    return b;
}

std::uint32_t numberOf(const Bytes& b)
{
    return b[16] | (b[17] << 8);
}

} // namespace

TEST(HandoverQueueTest, PacketQueueHoldsExactly10000AndRefusesMore)
{
    HandoverQueue q;
    for (std::uint32_t i = 0; i < kPacketQueueCapacity; ++i)
        ASSERT_TRUE(q.PutPacket(numbered(i).data(), 20, i)) << i;
    EXPECT_FALSE(q.PutPacket(numbered(1).data(), 20, 1));
    q.DropPacket();
    EXPECT_TRUE(q.PutPacket(numbered(10000).data(), 20, 10000));
    EXPECT_FALSE(q.PutPacket(numbered(1).data(), 20, 1));
}

TEST(HandoverQueueTest, PacketsComeOutInOrderAcrossTheWrap)
{
    HandoverQueue q;
    Bytes out;
    std::uint32_t conn = 0;
    // Fill, drain half, refill past slot 9999 into slot 0 and on, then drain all.
    for (std::uint32_t i = 0; i < kPacketQueueCapacity; ++i)
        q.PutPacket(numbered(i).data(), 20, i * 7);
    std::uint32_t expect = 0;
    for (; expect < 6000; ++expect) {
        ASSERT_TRUE(q.PeekPacket(&out, &conn));
        ASSERT_EQ(expect, numberOf(out));
        ASSERT_EQ(expect * 7, conn);
        q.DropPacket();
    }
    for (std::uint32_t i = 10000; i < 16000; ++i)
        ASSERT_TRUE(q.PutPacket(numbered(i).data(), 20, i * 7));
    EXPECT_FALSE(q.PutPacket(numbered(0).data(), 20, 0));
    for (; expect < 16000; ++expect) {
        ASSERT_TRUE(q.PeekPacket(&out, &conn));
        ASSERT_EQ(expect & 0xFFFF, numberOf(out));
        ASSERT_EQ(expect * 7, conn);
        q.DropPacket();
    }
    EXPECT_FALSE(q.PeekPacket(&out, &conn));
}

TEST(HandoverQueueTest, EmptyAgainAfterAsManyDropsAsPuts)
{
    HandoverQueue q;
    for (std::uint32_t i = 0; i < kPacketQueueCapacity; ++i)
        q.PutPacket(numbered(i).data(), 20, i);
    for (std::uint32_t i = 0; i < kPacketQueueCapacity; ++i)
        q.DropPacket();
    Bytes out;
    std::uint32_t conn;
    EXPECT_FALSE(q.PeekPacket(&out, &conn));
    q.DropPacket(); // nothing to drop: no effect
    for (std::uint32_t i = 0; i < kPacketQueueCapacity; ++i)
        ASSERT_TRUE(q.PutPacket(numbered(i).data(), 20, i)) << i;
}

TEST(HandoverQueueTest, PeekWithoutDropRepeatsTheRecord)
{
    HandoverQueue q;
    Bytes a(17, 0xAA), b(30, 0xBB), out;
    std::uint32_t conn = 0;
    q.PutPacket(a.data(), a.size(), 5);
    q.PutPacket(b.data(), b.size(), 6);
    ASSERT_TRUE(q.PeekPacket(&out, &conn));
    EXPECT_EQ(a, out);
    ASSERT_TRUE(q.PeekPacket(&out, &conn));
    EXPECT_EQ(a, out);
    EXPECT_EQ(5u, conn);
    q.DropPacket();
    ASSERT_TRUE(q.PeekPacket(&out, &conn));
    EXPECT_EQ(b, out); // resized to the longer record
    EXPECT_EQ(6u, conn);
}

TEST(HandoverQueueTest, NoticeQueueHolds1000InOrderAcrossTheWrap)
{
    HandoverQueue q;
    Bytes out;
    for (std::uint32_t i = 0; i < kNoticeQueueCapacity; ++i) {
        auto n = makeDisconnectNotice(i);
        ASSERT_TRUE(q.PutNotice(n.data(), n.size()));
    }
    auto extra = makeDisconnectNotice(99999);
    EXPECT_FALSE(q.PutNotice(extra.data(), extra.size()));
    for (std::uint32_t i = 0; i < 1500; ++i) {
        ASSERT_TRUE(q.PeekNotice(&out));
        ASSERT_EQ(kNoticeSize, out.size());
        EXPECT_EQ(kDisconnectNotice, out[0]);
        ASSERT_EQ(i, readU32(out.data() + 1));
        q.DropNotice();
        if (i < 500) {
            auto n = makeDisconnectNotice(i + kNoticeQueueCapacity);
            ASSERT_TRUE(q.PutNotice(n.data(), n.size()));
        }
    }
    EXPECT_FALSE(q.PeekNotice(&out));
}

TEST(HandoverQueueTest, NoticeCarriesConnectionLittleEndian)
{
    auto n = makeDisconnectNotice(0x12345678);
    EXPECT_EQ((std::array<std::uint8_t, 5>{1, 0x78, 0x56, 0x34, 0x12}), n);
}
