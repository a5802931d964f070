// tests/platform/FormatsTest.cpp
#include "platform/Formats.h"

#include <cstdlib>

#include <gtest/gtest.h>

TEST(FormatsTest, ShortDateAndLongTimeFromEpochSeconds)
{
    std::tm t = platform::calendarFromEpoch(1493805094);
    EXPECT_EQ("03.05.2017", platform::shortDate(t));
    EXPECT_EQ("9:51:34", platform::longTime(t));
    std::tm zero = platform::calendarFromEpoch(0);
    EXPECT_EQ("01.01.1970", platform::shortDate(zero));
    EXPECT_EQ("0:00:00", platform::longTime(zero));
    std::tm last = platform::calendarFromEpoch(4294967295u);
    EXPECT_EQ("07.02.2106", platform::shortDate(last));
    EXPECT_EQ("6:28:15", platform::longTime(last));
}

TEST(FormatsTest, EpochSecondsIgnoreTheLocalTimeZone)
{
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    ::setenv("TZ", "Asia/Vladivostok", 1);
    ::tzset();
    std::tm t = platform::calendarFromEpoch(1493805094);
    EXPECT_EQ("9:51:34", platform::longTime(t));
    if (old)
        ::setenv("TZ", saved.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}
