// tests/tracker/HandoverQueueTest.cpp
#include "tracker/HandoverQueue.h"

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fakes/TrackerClient.h"

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

// Numbered from 1; 0, nothing stored, once 10000 wait; a pop makes room for one, numbered on.
TEST(HandoverQueueTest, PacketQueueHoldsExactly10000NumberedFromOneAndRefusesMore)
{
    HandoverQueue q;
    for (std::uint32_t i = 1; i <= kPacketQueueCapacity; ++i)
        ASSERT_EQ(std::uint64_t{i}, q.pushPacket(numbered(i).data(), 20, i));
    EXPECT_EQ(0u, q.pushPacket(numbered(1).data(), 20, 1));
    q.popPacket();
    EXPECT_EQ(kPacketQueueCapacity + 1, q.pushPacket(numbered(10000).data(), 20, 10000));
    EXPECT_EQ(0u, q.pushPacket(numbered(1).data(), 20, 1));
}

TEST(HandoverQueueTest, PacketsComeOutInOrderAcrossTheWrap)
{
    HandoverQueue q;
    Bytes out;
    std::uint32_t conn = 0;
    // Fill, drain half, refill past slot 9999 into slot 0 and on, then drain all.
    for (std::uint32_t i = 0; i < kPacketQueueCapacity; ++i)
        q.pushPacket(numbered(i).data(), 20, i * 7);
    std::uint32_t expect = 0;
    for (; expect < 6000; ++expect) {
        ASSERT_TRUE(q.peekPacket(&out, &conn));
        ASSERT_EQ(expect, numberOf(out));
        ASSERT_EQ(expect * 7, conn);
        q.popPacket();
    }
    for (std::uint32_t i = 10000; i < 16000; ++i)
        ASSERT_TRUE(q.pushPacket(numbered(i).data(), 20, i * 7));
    EXPECT_FALSE(q.pushPacket(numbered(0).data(), 20, 0));
    for (; expect < 16000; ++expect) {
        ASSERT_TRUE(q.peekPacket(&out, &conn));
        ASSERT_EQ(expect & 0xFFFF, numberOf(out));
        ASSERT_EQ(expect * 7, conn);
        q.popPacket();
    }
    EXPECT_FALSE(q.peekPacket(&out, &conn));
}

TEST(HandoverQueueTest, EmptyAgainAfterAsManyDropsAsPuts)
{
    HandoverQueue q;
    for (std::uint32_t i = 0; i < kPacketQueueCapacity; ++i)
        q.pushPacket(numbered(i).data(), 20, i);
    for (std::uint32_t i = 0; i < kPacketQueueCapacity; ++i)
        q.popPacket();
    Bytes out;
    std::uint32_t conn;
    EXPECT_FALSE(q.peekPacket(&out, &conn));
    q.popPacket(); // nothing to drop: no effect
    for (std::uint32_t i = 0; i < kPacketQueueCapacity; ++i)
        ASSERT_TRUE(q.pushPacket(numbered(i).data(), 20, i)) << i;
}

TEST(HandoverQueueTest, PeekWithoutDropRepeatsTheRecord)
{
    HandoverQueue q;
    Bytes a(17, 0xAA), b(30, 0xBB), out;
    std::uint32_t conn = 0;
    q.pushPacket(a.data(), a.size(), 5);
    q.pushPacket(b.data(), b.size(), 6);
    ASSERT_TRUE(q.peekPacket(&out, &conn));
    EXPECT_EQ(a, out);
    ASSERT_TRUE(q.peekPacket(&out, &conn));
    EXPECT_EQ(a, out);
    EXPECT_EQ(5u, conn);
    q.popPacket();
    ASSERT_TRUE(q.peekPacket(&out, &conn));
    EXPECT_EQ(b, out); // resized to the longer record
    EXPECT_EQ(6u, conn);
}

TEST(HandoverQueueTest, NoticeQueueHolds1000InOrderAcrossTheWrap)
{
    HandoverQueue q;
    Bytes out;
    for (std::uint32_t i = 0; i < kNoticeQueueCapacity; ++i) {
        auto n = makeDisconnectNotice(i);
        ASSERT_TRUE(q.pushNotice(n.data(), n.size()));
    }
    auto extra = makeDisconnectNotice(99999);
    EXPECT_FALSE(q.pushNotice(extra.data(), extra.size()));
    for (std::uint32_t i = 0; i < 1500; ++i) {
        ASSERT_TRUE(q.peekNotice(&out));
        ASSERT_EQ(kNoticeSize, out.size());
        EXPECT_EQ(kDisconnectNotice, out[0]);
        ASSERT_EQ(i, readU32(out.data() + 1));
        q.popNotice();
        if (i < 500) {
            auto n = makeDisconnectNotice(i + kNoticeQueueCapacity);
            ASSERT_TRUE(q.pushNotice(n.data(), n.size()));
        }
    }
    EXPECT_FALSE(q.peekNotice(&out));
}

TEST(HandoverQueueTest, NoticeCarriesConnectionLittleEndian)
{
    auto n = makeDisconnectNotice(0x12345678);
    EXPECT_EQ((std::array<std::uint8_t, 5>{1, 0x78, 0x56, 0x34, 0x12}), n);
}

TEST(HandoverQueueTest, KeptCoversEverySequenceUpToTheMarkAndNeverMovesBack)
{
    HandoverQueue q;
    const std::chrono::milliseconds now(0);
    EXPECT_FALSE(q.waitKept(1, now));
    q.markKept(5);
    EXPECT_TRUE(q.waitKept(1, now));
    EXPECT_TRUE(q.waitKept(5, now));
    EXPECT_FALSE(q.waitKept(6, now));
    q.markKept(3);
    EXPECT_TRUE(q.waitKept(5, now));
    EXPECT_FALSE(q.waitKept(7, std::chrono::milliseconds(20))); // the wait runs out
}

// A waiter blocked for an hour must come back through markKept or releaseWaiters; should it
// not, the test releases it before failing, so it never hangs.
class KeptWaitTest : public ::testing::Test
{
protected:
    std::future<bool> waitInBackground(std::uint64_t sequence)
    {
        return std::async(std::launch::async, [this, sequence] {
            return m_queue.waitKept(sequence, std::chrono::hours(1));
        });
    }

    // True once a waiter is blocked in its wait, so that what follows must wake it.
    bool waiterBlocked()
    {
        return fakes::eventually([&] { return m_queue.keptWaiters() == 1; }, 30000);
    }

    bool result(std::future<bool>& f)
    {
        if (f.wait_for(std::chrono::seconds(30)) == std::future_status::ready)
            return f.get();
        m_queue.markKept(~std::uint64_t{0});
        ADD_FAILURE() << "the waiter was not woken";
        return f.get();
    }

    HandoverQueue m_queue;
};

TEST_F(KeptWaitTest, MarkKeptWakesTheWaiterOfThatSequence)
{
    auto waiter = waitInBackground(2);
    EXPECT_TRUE(waiterBlocked());
    m_queue.markKept(1); // not yet its record
    m_queue.markKept(2);
    EXPECT_TRUE(result(waiter));
}

TEST_F(KeptWaitTest, ReleaseEndsWaitsNowAndLaterWithoutKeepingAnything)
{
    auto before = waitInBackground(1);
    EXPECT_TRUE(waiterBlocked());
    m_queue.releaseWaiters();
    EXPECT_FALSE(result(before));
    auto after = waitInBackground(1);
    EXPECT_FALSE(result(after));
    m_queue.markKept(1);
    EXPECT_TRUE(m_queue.waitKept(1, std::chrono::hours(1))); // what is kept still says so
}

// Waits running out just as their record is kept end, and say true only for a record already
// marked; a waker reaching a waiter that has gone shows in the sanitizer build.
TEST(HandoverQueueTest, WaitsRunningOutWhileTheyAreWokenEndWithTheTruth)
{
    constexpr std::uint64_t kRecords = 20000, kWaiters = 8;
    HandoverQueue q;
    std::atomic<std::uint64_t> marked{0}, wrong{0};
    std::vector<std::thread> waiters;
    for (std::uint64_t first = 1; first <= kWaiters; ++first)
        waiters.emplace_back([&, first] {
            for (std::uint64_t s = first; s <= kRecords; s += kWaiters)
                wrong += q.waitKept(s, std::chrono::milliseconds(s % 2)) && marked < s;
        });
    for (std::uint64_t s = 1; s <= kRecords; ++s, std::this_thread::yield())
        q.markKept(marked = s);
    for (std::thread& w : waiters)
        w.join();
    EXPECT_EQ(0u, wrong.load());
    EXPECT_EQ(0u, q.keptWaiters());
}
