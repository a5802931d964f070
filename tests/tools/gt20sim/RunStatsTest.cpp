// tests/tools/gt20sim/RunStatsTest.cpp: the summary, the exit status and the acknowledged-record
// file.
#include "tools/gt20sim/RunStats.h"

#include <gtest/gtest.h>

#include "tests/fakes/TempDir.h"
#include "tools/gt20sim/AckedLog.h"

using namespace gt20sim;

TEST(RunStatsTest, PercentilesTakeTheNearestRank)
{
    std::vector<double> values;
    for (int i = 100; i >= 1; --i)
        values.push_back(i / 10.0);
    EXPECT_DOUBLE_EQ(5.0, percentile(values, 50));
    EXPECT_DOUBLE_EQ(9.0, percentile(values, 90));
    EXPECT_DOUBLE_EQ(9.9, percentile(values, 99));
    EXPECT_DOUBLE_EQ(10.0, percentile(values, 100));
    EXPECT_DOUBLE_EQ(3.0, percentile({3.0}, 50));
    EXPECT_DOUBLE_EQ(3.0, percentile({1.0, 3.0}, 99));
    EXPECT_DOUBLE_EQ(0.0, percentile({}, 50));
}

TEST(RunStatsTest, SummaryLinesCountWhatTheTrackersReported)
{
    RunStats stats(2);
    stats.connected();
    stats.connected();
    stats.identificationSent();
    stats.identificationAcknowledged(true);
    stats.identificationSent();
    stats.identificationAcknowledged(true);
    for (double ms : {0.5, 0.25, 2.0}) {
        stats.dataSent();
        stats.dataAcknowledged(ms, 3);
    }
    stats.dataSent();
    stats.dataUnacknowledged();
    stats.brokenSent();
    stats.brokenAcknowledged();

    Totals t = stats.totals();
    EXPECT_EQ("trackers 2\n"
              "sent 4\n"
              "acknowledged 3\n"
              "unacknowledged 1\n"
              "records acknowledged 9\n"
              "latency ms p50 0.50 p90 2.00 p99 2.00 max 2.00\n"
              "identifications 2\n"
              "identifications acknowledged 2\n"
              "trackers identified 2\n",
              summaryText(t, false));
    EXPECT_EQ(summaryText(t, false) + "broken sent 1\nbroken acknowledged 1\n",
              summaryText(t, true));
}

TEST(RunStatsTest, ExitStatusIsZeroOnlyWhenEverythingWasAcknowledged)
{
    Totals good;
    good.trackers = 2;
    good.connections = 3;
    good.identifications = good.identificationsAcknowledged = 3;
    good.trackersIdentified = 2;
    good.sent = good.acknowledged = 10;
    good.brokenSent = 4; // deliberate breakage is no failure
    EXPECT_EQ(0, exitCode(good));

    Totals unacked = good;
    unacked.unacknowledged = 1;
    EXPECT_EQ(1, exitCode(unacked));

    Totals identificationLost = good;
    identificationLost.identifications = 4;
    EXPECT_EQ(1, exitCode(identificationLost));

    Totals trackerNeverThrough = good;
    trackerNeverThrough.trackersIdentified = 1;
    EXPECT_EQ(1, exitCode(trackerNeverThrough));

    Totals noConnection;
    noConnection.trackers = 2;
    EXPECT_EQ(2, exitCode(noConnection));
}

TEST(AckedLogTest, OneLinePerRecordAppendedToWhatIsThere)
{
    EXPECT_EQ("356307042440000 4294967295 17\n356307042440000 0 17\n",
              ackedLines("356307042440000", {4294967295u, 0}, 17));

    fakes::TempDir dir;
    {
        std::ofstream(dir.file("acked.txt")) << "356307042440009 1 5\n";
        AckedLog log;
        log.append("not written", {1}, 6); // nothing open yet
        ASSERT_TRUE(log.open(dir.file("acked.txt")));
        log.append("356307042440000", {1700000000, 1700000001}, 123456789012);
        log.append("356307042440001", {1700000000}, 123456789013);
        // Flushed at once: readable while the log is still open.
        EXPECT_EQ("356307042440009 1 5\n356307042440000 1700000000 123456789012\n"
                  "356307042440000 1700000001 123456789012\n"
                  "356307042440001 1700000000 123456789013\n",
                  dir.read("acked.txt"));
    }
    AckedLog nowhere;
    EXPECT_FALSE(nowhere.open(dir.file("no/such/dir/acked.txt")));
}

TEST(AckedLogTest, TimeTextIsTheOnePositionMessagesCarry)
{
    EXPECT_EQ("03.05.2017 9:51:34", messageTimeText(1493805094));
    EXPECT_EQ("03.05.2017", messageTimeText(1493769600)); // midnight: the date alone
    EXPECT_EQ("03.05.2017 0:00:01", messageTimeText(1493769601));
    EXPECT_EQ("07.02.2106 6:28:15", messageTimeText(4294967295u));
}
