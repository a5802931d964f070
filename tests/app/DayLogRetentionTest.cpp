// tests/app/DayLogRetentionTest.cpp: day logs older than KeepDayLogs days removed once a day,
// with the date injected.
#include "app/DayLogRetention.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/fakes/CalendarTime.h"
#include "tests/fakes/TempDir.h"

namespace {

std::tm date(int year, int mon, int day)
{
    return fakes::calendarTime(year, mon, day, 12);
}

class DayLogRetentionTest : public ::testing::Test
{
protected:
    void touch(const std::string& name) { std::ofstream(m_dir.file(name)) << "9:51:34 x\r\n"; }
    bool exists(const std::string& name) const { return std::filesystem::exists(m_dir.file(name)); }

    fakes::TempDir m_dir;
    std::tm m_today = date(2017, 3, 2);
    platform::DayLog m_log{m_dir.path(), [this] { return m_today; }};
    std::vector<std::string> m_reported;
};

} // namespace

TEST_F(DayLogRetentionTest, KeepsTodayAndTheDaysBeforeItAcrossMonthAndLeapYearEnds)
{
    for (const char* name : {"02.03.2017.log", "01.03.2017.log", "28.02.2017.log", "27.02.2017.log",
                             "31.12.2016.log", "29.02.2016.log"})
        touch(name);
    app::DayLogRetention retention(m_log, 3,
                                   [&](const std::string& s) { m_reported.push_back(s); });
    retention.tick();
    EXPECT_TRUE(exists("02.03.2017.log"));
    EXPECT_TRUE(exists("01.03.2017.log"));
    EXPECT_TRUE(exists("28.02.2017.log"));
    EXPECT_FALSE(exists("27.02.2017.log"));
    EXPECT_FALSE(exists("31.12.2016.log"));
    EXPECT_FALSE(exists("29.02.2016.log"));
    ASSERT_EQ(3u, m_reported.size());
    EXPECT_NE(std::string::npos, m_reported[0].find("removed (KeepDayLogs=3)"));
}

TEST_F(DayLogRetentionTest, LeavesEverythingThatIsNotADayLog)
{
    for (const char* name : {"01.01.2000.txt", "gpsbridge.ini", "1.01.2000.log", "31.02.2000.log",
                             "aa.bb.cccc.log", "01.01.2000.log.bak"})
        touch(name);
    std::filesystem::create_directory(m_dir.file("02.01.2000.log"));
    app::DayLogRetention(m_log, 1).tick();
    for (const char* name : {"01.01.2000.txt", "gpsbridge.ini", "1.01.2000.log", "31.02.2000.log",
                             "aa.bb.cccc.log", "01.01.2000.log.bak", "02.01.2000.log"})
        EXPECT_TRUE(exists(name)) << name;
}

TEST_F(DayLogRetentionTest, ZeroKeepsEveryDayLog)
{
    touch("01.01.1990.log");
    app::DayLogRetention(m_log, 0).tick();
    EXPECT_TRUE(exists("01.01.1990.log"));
}

TEST_F(DayLogRetentionTest, PrunesOnceADayAndAgainWhenTheDateTurns)
{
    app::DayLogRetention retention(m_log, 1);
    retention.tick();
    touch("01.03.2017.log"); // yesterday's, written after the first pruning
    retention.tick();        // the same day: not looked at again
    EXPECT_TRUE(exists("01.03.2017.log"));
    m_today = date(2017, 3, 3);
    retention.tick();
    EXPECT_FALSE(exists("01.03.2017.log"));
}

TEST_F(DayLogRetentionTest, TodaysLinesGoOnAfterPruning)
{
    touch("01.03.2017.log");
    app::DayLogRetention(m_log, 1).tick();
    EXPECT_TRUE(m_log.writeLine(" Connect 5"));
    EXPECT_FALSE(exists("01.03.2017.log"));
    EXPECT_TRUE(exists("02.03.2017.log"));
}
