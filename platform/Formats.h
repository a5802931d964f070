// platform/Formats.h: the regional formats the gateway writes dates and times in.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

// Short date, dd.MM.yyyy: "03.05.2017".
std::string shortDate(const std::tm& t);

// Long time, H:mm:ss with the hour unpadded: "9:51:34".
std::string longTime(const std::tm& t);

// The local date and time now.
std::tm localNow();

// The local date and time the given seconds before t (a local time), across days and
// daylight-saving changes.
std::tm localSecondsBefore(std::tm t, std::int64_t seconds);

// 1970-01-01 00:00:00 plus the given seconds, as a calendar time with no time-zone conversion.
std::tm calendarFromEpoch(std::uint32_t seconds);

} // namespace platform
