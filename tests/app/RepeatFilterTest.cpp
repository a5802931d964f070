// tests/app/RepeatFilterTest.cpp: a reason repeated at every reconnect shown once a minute.
#include "app/RepeatFilter.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(RepeatFilterTest, SameLineOncePerIntervalADifferentOneAtOnce)
{
    app::RepeatFilter filter(60s);
    auto t = app::RepeatFilter::Clock::now();
    const std::string refused = "127.0.0.1:12543: Connection refused";
    EXPECT_TRUE(filter.pass(refused, t));
    EXPECT_FALSE(filter.pass(refused, t + 5s));
    EXPECT_FALSE(filter.pass(refused, t + 59s));
    EXPECT_TRUE(filter.pass("10.0.0.9:12543: Connection timed out", t + 60s));
    EXPECT_TRUE(filter.pass(refused, t + 61s));
    EXPECT_FALSE(filter.pass(refused, t + 62s));
    EXPECT_TRUE(filter.pass(refused, t + 121s));
}

// Two server addresses tried in turn: each one's reason still once a minute.
TEST(RepeatFilterTest, LinesTakingTurnsAreEachShownOncePerInterval)
{
    app::RepeatFilter filter(60s);
    auto t = app::RepeatFilter::Clock::now();
    int shown = 0;
    for (int attempt = 0; attempt < 24; ++attempt) // two minutes, an attempt every 5 s
        shown += filter.pass(attempt % 2 ? "10.0.0.9: timed out" : "10.0.0.8: refused",
                             t + attempt * 5s);
    EXPECT_EQ(4, shown);
}
