// tests/platform/DayLogTest.cpp
#include "platform/DayLog.h"

#include <filesystem>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fakes/CalendarTime.h"
#include "tests/fakes/TempDir.h"

using fakes::calendarTime;

TEST(DayLogTest, AppendsCrLfLinesToTheFileOfTheDate)
{
    fakes::TempDir dir;
    std::tm now = calendarTime(2017, 5, 3, 9, 51, 34);
    platform::DayLog log(dir.path(), [&] { return now; });
    EXPECT_TRUE(log.writeLine(" Connect 1234"));
    now = calendarTime(2017, 5, 3, 23, 5, 7);
    EXPECT_TRUE(log.writeLine(" 040400011907EBCD"));
    EXPECT_EQ("9:51:34 Connect 1234\r\n23:05:07 040400011907EBCD\r\n", dir.read("03.05.2017.log"));
    now = calendarTime(2017, 5, 4, 0, 0, 1);
    EXPECT_TRUE(log.writeLine(" Disconnect 1234"));
    EXPECT_EQ("0:00:01 Disconnect 1234\r\n", dir.read("04.05.2017.log"));
}

TEST(DayLogTest, LineThatCannotBeWrittenIsLostAndLoggingGoesOn)
{
    fakes::TempDir dir;
    std::string sub = dir.file("gone");
    platform::DayLog missing(sub, [] { return calendarTime(2017, 5, 3, 9, 0, 0); });
    EXPECT_FALSE(missing.writeLine(" Connect 1"));
    ASSERT_TRUE(std::filesystem::create_directory(sub));
    EXPECT_TRUE(missing.writeLine(" Connect 2"));
    EXPECT_EQ("9:00:00 Connect 2\r\n", dir.read("gone/03.05.2017.log"));
}

TEST(DayLogTest, LinesFromManyThreadsStayWhole)
{
    fakes::TempDir dir;
    platform::DayLog log(dir.path(), [] { return calendarTime(2020, 1, 2, 3, 4, 5); });
    std::vector<std::thread> writers;
    const std::string payload(200, 'x');
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 100; ++i)
                log.writeLine(" " + std::to_string(t) + payload);
        });
    for (auto& w : writers)
        w.join();
    std::string text = dir.read("02.01.2020.log");
    std::size_t lines = 0, pos = 0;
    while ((pos = text.find("\r\n", pos)) != std::string::npos) {
        ++lines;
        pos += 2;
    }
    EXPECT_EQ(800u, lines);
    EXPECT_EQ(800u * (7 + 2 + 200 + 2), text.size());
}
