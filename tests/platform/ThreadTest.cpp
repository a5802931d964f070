// tests/platform/ThreadTest.cpp
#include "platform/Thread.h"

#include <atomic>

#include <gtest/gtest.h>

TEST(ThreadTest, StartsAgainOnlyAfterAJoinAndJoinsWhenDestroyed)
{
    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
    {
        platform::Thread thread;
        thread.join(); // never started: nothing to wait for
        ASSERT_TRUE(thread.start([&] { ++runs; }, 256 * 1024));
        EXPECT_FALSE(thread.start([&] { runs += 100; })); // not joined yet
        thread.join();
        EXPECT_FALSE(thread.joinable());
        EXPECT_EQ(1, runs);
        ASSERT_TRUE(thread.start([&] {
            release.wait(false);
            ++runs;
        }));
        EXPECT_TRUE(thread.joinable());
        release = true;
        release.notify_one();
    } // the destructor waits for the second body
    EXPECT_EQ(2, runs);
}
