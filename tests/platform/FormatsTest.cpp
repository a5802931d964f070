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

namespace {

// Sets TZ, or clears it for null, and has the C library read it again.
void setTimeZone(const char* zone)
{
#ifdef _WIN32
    ::_putenv_s("TZ", zone ? zone : "");
#else
    if (zone)
        ::setenv("TZ", zone, 1);
    else
        ::unsetenv("TZ");
#endif
    ::tzset();
}

} // namespace

TEST(FormatsTest, EpochSecondsIgnoreTheLocalTimeZone)
{
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setTimeZone("VLAT-10"); // ten hours east of UTC, in the form every C library reads
    std::tm t = platform::calendarFromEpoch(1493805094);
    EXPECT_EQ("9:51:34", platform::longTime(t));
    setTimeZone(old ? saved.c_str() : nullptr);
}
