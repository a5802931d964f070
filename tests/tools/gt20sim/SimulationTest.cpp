// tests/tools/gt20sim/SimulationTest.cpp: how a run is laid out over its trackers and when it ends.
#include "tools/gt20sim/Simulation.h"

#include <set>

#include <gtest/gtest.h>

using namespace gt20sim;

TEST(SimulationTest, PlansCountIMEIsUpAndSpreadTheStartsOverTheFirstInterval)
{
    SimOptions o = parseSimOptions({"--trackers", "4", "--interval", "2", "--records", "3",
                                    "--imei-base", "356307042440098", "--bad-checksum", "0.5"})
                       .options;
    std::vector<TrackerPlan> plans = makePlans(o, 42, 1700000000);
    ASSERT_EQ(4u, plans.size());
    std::set<std::uint64_t> seeds;
    for (std::size_t i = 0; i < plans.size(); ++i) {
        EXPECT_EQ(500.0 * static_cast<double>(i), plans[i].startAtMs);
        EXPECT_EQ(2000.0, plans[i].intervalMs);
        EXPECT_EQ(3u, plans[i].records);
        EXPECT_EQ(10u, plans[i].packets);
        EXPECT_EQ(0.5, plans[i].damage.badChecksum);
        EXPECT_EQ(1700000000u, plans[i].startTime);
        seeds.insert(plans[i].seed);
    }
    EXPECT_EQ("356307042440098", plans[0].imei);
    EXPECT_EQ("356307042440101", plans[3].imei);
    EXPECT_EQ(4u, seeds.size());
    EXPECT_EQ(plans[2].seed, makePlans(o, 42, 0)[2].seed); // the same seed, the same tracks
    EXPECT_NE(plans[2].seed, makePlans(o, 43, 0)[2].seed);
}

TEST(SimulationTest, DeadlineIsTheDurationOrWhatACountedRunCanTake)
{
    EXPECT_EQ(90000.0, runLimits(parseSimOptions({"--duration", "90"}).options).deadlineMs);
    // Three packets that might each wait out a 1000 ms acknowledgement, one interval of
    // staggered starts, and the slack.
    SimOptions counted =
        parseSimOptions({"--count", "3", "--interval", "0.5", "--ack-timeout-ms", "1000"}).options;
    EXPECT_EQ(3 * 1500.0 + 500 + kCountGraceMs, runLimits(counted).deadlineMs);
}

TEST(SimulationTest, RunEndsOnStopWhenAllAreDoneAtTheDeadlineOrWithoutAnyConnection)
{
    RunLimits limits;
    limits.deadlineMs = 30000;
    limits.firstConnectLimitMs = 10000;
    EXPECT_EQ(RunEnd::Running, checkRunEnd(limits, 9999, false, false, false));
    EXPECT_EQ(RunEnd::NoConnection, checkRunEnd(limits, 10000, false, false, false));
    EXPECT_EQ(RunEnd::Running, checkRunEnd(limits, 29999, true, false, false));
    EXPECT_EQ(RunEnd::TimeUp, checkRunEnd(limits, 30000, true, false, false));
    EXPECT_EQ(RunEnd::AllDone, checkRunEnd(limits, 30000, true, true, false));
    EXPECT_EQ(RunEnd::Stopped, checkRunEnd(limits, 1, false, true, true));
}
