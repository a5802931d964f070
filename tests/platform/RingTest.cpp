// tests/platform/RingTest.cpp: the bounded ring: every slot usable, order kept across the wrap.
#include "platform/Ring.h"

#include <string>

#include <gtest/gtest.h>

using platform::Ring;

TEST(RingTest, EverySlotIsUsableAndAFullRingRefusesUntilOneIsTaken)
{
    Ring<int> ring(3);
    EXPECT_TRUE(ring.empty());
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(ring.push(i));
    EXPECT_TRUE(ring.full());
    EXPECT_EQ(3u, ring.size());
    EXPECT_FALSE(ring.push(99));
    EXPECT_EQ(nullptr, ring.pushSlot());
    ring.pop();
    EXPECT_FALSE(ring.full());
    EXPECT_TRUE(ring.push(3));
    EXPECT_EQ(1, *ring.front());
}

TEST(RingTest, ItemsComeOutInOrderAcrossTheWrap)
{
    Ring<std::string> ring(4);
    int next = 0;
    int expected = 0;
    for (int round = 0; round < 10; ++round) {
        while (ring.push(std::to_string(next)))
            ++next;
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(std::to_string(expected++), *ring.front());
            ring.pop();
        }
    }
    while (!ring.empty()) {
        ASSERT_EQ(std::to_string(expected++), *ring.front());
        ring.pop();
    }
    EXPECT_EQ(next, expected);
    ring.pop(); // nothing on an empty ring
    EXPECT_EQ(0u, ring.size());
    EXPECT_EQ(nullptr, ring.front());
}

TEST(RingTest, APopThatKeepsTheSlotLetsItsBufferBeReused)
{
    Ring<std::string> ring(1);
    *ring.pushSlot() = std::string(1000, 'x');
    ring.pop([](std::string& s) { s.clear(); });
    std::string* again = ring.pushSlot();
    ASSERT_NE(nullptr, again);
    EXPECT_TRUE(again->empty());
    EXPECT_GE(again->capacity(), 1000u);
}
