// tests/tools/LoadFiguresTest.cpp: the load benchmark's readings of other processes (/proc, the
// simulator's summary) and its comparison of gateways.
#include <unistd.h>

#include <gtest/gtest.h>

#include "bench/LoadLedger.h"
#include "bench/LoadReport.h"
#include "bench/ProcessUsage.h"

using namespace loadbench;

TEST(ProcessUsageTest, CountsStatFieldsFromTheLastParenthesis)
{
    // A command name may hold blanks and ')': utime 7 and stime 5 are fields 14 and 15.
    const std::string stat = "4242 (gps bridge) x) S 1 4242 4242 0 -1 4194560 900 0 0 0 7 5 0 0 "
                             "20 0 9 0 1234 56789 321";
    EXPECT_EQ(12u, cpuTicksOfStat(stat));
    EXPECT_FALSE(cpuTicksOfStat("4242 (gpsbridge) S 1 4242").has_value());
    EXPECT_TRUE(cpuSeconds(::getpid()).has_value());
}

TEST(ProcessUsageTest, ReadsVmRssNotTheOtherVmLines)
{
    EXPECT_EQ(5120u, residentKbOfStatus("Name:\tgpsbridge\nVmHWM:\t  9000 kB\nVmRSS:\t  5120 kB\n"
                                        "RssAnon:\t  4000 kB\n"));
    EXPECT_FALSE(residentKbOfStatus("Name:\tgpsbridge\nState:\tZ (zombie)\n").has_value());
    EXPECT_GT(residentMegabytes(::getpid()).value_or(0), 0);
}

TEST(LoadLedgerTest, ReadsAckLatencyFromTheSimulatorsSummary)
{
    auto l = parseAckLatency("p50 1.25 p90 3.00 p99 12.50 max 40.00");
    ASSERT_TRUE(l.has_value());
    EXPECT_DOUBLE_EQ(1.25, l->p50Ms);
    EXPECT_DOUBLE_EQ(12.5, l->p99Ms);
    EXPECT_FALSE(parseAckLatency("").has_value());
}

TEST(LoadReportTest, JudgesTheNewGatewaysRateAgainstTheOthersOnlyFlatOut)
{
    for (const char* scenario : {"flat-out", "drain"}) {
        SCOPED_TRACE(scenario);
        std::vector<Row> rows(3);
        const char* gateways[] = {"new", "baseline", "stand-in"};
        const double rates[] = {850, 1000, 1000};
        for (std::size_t i = 0; i < rows.size(); ++i) {
            rows[i].scenario = scenario;
            rows[i].gateway = gateways[i];
            rows[i].ratePerS = rates[i];
        }
        compareRows(rows, 0.9, 0.7);
        // 0.85 of the baseline misses 0.9; 0.85 of the stand-in makes 0.7.
        EXPECT_EQ(std::string(scenario) == "flat-out" ? 1u : 0u, rows[0].failures.size());
        EXPECT_EQ(2u, rows[0].notes.size());
        EXPECT_TRUE(rows[1].failures.empty() && rows[1].notes.empty());
    }
}
