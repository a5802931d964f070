// tests/platform/win/ErrorNumbersTest.cpp
#include "platform/win/ErrorNumbers.h"

#include <windows.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"

TEST(ErrorNumbersTest, EveryWayWindowsSaysTheDiskIsFullIsRecognised)
{
    struct Row
    {
        unsigned long win32;
        int expected;
    };
    const Row rows[] = {{ERROR_DISK_FULL, ENOSPC},
                        {ERROR_HANDLE_DISK_FULL, ENOSPC},
                        {1295 /* quota exceeded */, ENOSPC},
                        {ERROR_FILE_NOT_FOUND, ENOENT},
                        {ERROR_ACCESS_DENIED, EACCES},
                        {ERROR_WRITE_PROTECT, EROFS},
                        {ERROR_CRC, EIO}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.win32);
        int n = platform::win::errorNumberOf(row.win32);
        EXPECT_EQ(row.expected, n);
        EXPECT_EQ(row.expected == ENOSPC, platform::isDiskFullError(n));
    }
}
