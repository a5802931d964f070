// platform/Formats.cpp: fixed regional formats; no locale is consulted, so the output never
// depends on the environment the gateway was started in.
#include "platform/Formats.h"

#include <algorithm>
#include <cstdio>

namespace platform {

std::string shortDate(const std::tm& t)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
    return buf;
}

std::string longTime(const std::tm& t)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::tm localNow()
{
    std::time_t now = std::time(nullptr);
    std::tm t{};
    ::localtime_r(&now, &t);
    return t;
}

std::tm localSecondsBefore(std::tm t, std::int64_t seconds)
{
    // mktime carries the shifted seconds into minutes, hours and days, and fills in the rest.
    t.tm_sec -= static_cast<int>(std::clamp<std::int64_t>(seconds, 0, 1'000'000'000));
    t.tm_isdst = -1;
    std::mktime(&t);
    return t;
}

std::tm calendarFromEpoch(std::uint32_t seconds)
{
    std::time_t when = static_cast<std::time_t>(seconds);
    std::tm t{};
    ::gmtime_r(&when, &t);
    return t;
}

} // namespace platform
