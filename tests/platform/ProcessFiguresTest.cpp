// tests/platform/ProcessFiguresTest.cpp
#include "platform/ProcessFigures.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include <gtest/gtest.h>

#include "platform/Thread.h"

namespace {

// The fields after the name, as this system writes them: state, ..., utime 250 (field 14),
// stime 50, ..., 7 threads (20), start at tick 12345 (22), 2560 resident pages (24), ...
constexpr const char* kFieldsAfterName =
    " S 1 1234 1234 0 -1 4194560 500 0 0 0 250 50 0 0 20 0 7 0 12345 100000000 2560 "
    "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0";

} // namespace

TEST(ProcessFiguresTest, StatLineGivesCpuMemoryThreadsAndStartWhateverTheName)
{
    struct Row
    {
        const char* name;
        std::string line;
        bool parses;
    };
    const std::string fields = kFieldsAfterName;
    std::string notNumber = fields;
    notNumber.replace(notNumber.find(" 250 "), 5, " 2x0 ");
    const Row rows[] = {
        {"plain name", "1234 (gpsbridge)" + fields, true},
        {"name with blanks and parentheses", "1234 (gps) S 1 (x y)" + fields, true},
        {"cut before the resident pages", "1 (a)" + fields.substr(0, fields.find(" 2560")), false},
        {"a figure that is no number", "1234 (gpsbridge)" + notNumber, false},
        {"no name", fields, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::optional<platform::ProcessFigures> f =
            platform::parseProcessStat(row.line, 100, 4096, 1.7e9);
        ASSERT_EQ(row.parses, f.has_value());
        if (!f)
            continue;
        EXPECT_DOUBLE_EQ(3.0, f->cpuSeconds.value_or(-1));
        EXPECT_DOUBLE_EQ(2560.0 * 4096, f->residentBytes.value_or(-1));
        EXPECT_DOUBLE_EQ(7, f->threads.value_or(-1));
        EXPECT_DOUBLE_EQ(1.7e9 + 123.45, f->startTimeSeconds.value_or(-1));
    }
}

// The figures follow what the process does: files it opens, threads it starts.
TEST(ProcessFiguresTest, ReadingFollowsTheProcessOwnFilesAndThreads)
{
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const platform::ProcessFigures before = platform::readProcessFigures();
    ASSERT_TRUE(before.cpuSeconds && before.startTimeSeconds);
    EXPECT_LE(*before.startTimeSeconds, now + 1);
    EXPECT_GT(*before.startTimeSeconds, now - 3600);
#ifndef _WIN32
    ASSERT_TRUE(before.openFiles && before.maxOpenFiles && before.threads && before.residentBytes);
    EXPECT_GT(*before.residentBytes, 1e6);
    EXPECT_GE(*before.maxOpenFiles, *before.openFiles);

    std::FILE* files[] = {std::tmpfile(), std::tmpfile(), std::tmpfile()};
    std::atomic<bool> release{false};
    platform::Thread extra;
    extra.start([&] { release.wait(false); });
    const platform::ProcessFigures after = platform::readProcessFigures();
    release = true;
    release.notify_one();
    extra.join();
    for (std::FILE* f : files)
        std::fclose(f);
    EXPECT_EQ(*before.openFiles + 3, after.openFiles.value_or(-1));
    EXPECT_EQ(*before.threads + 1, after.threads.value_or(-1));
#endif
}
