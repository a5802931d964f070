// tests/fakes/CalendarTime.h: a local calendar time from its parts, for the clocks tests set.
#pragma once

#include <ctime>

namespace fakes {

// Month 1-12, the year in full; the fields a clock leaves out stay zero.
inline std::tm calendarTime(int year, int mon, int day, int h = 0, int m = 0, int s = 0)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = day;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    return t;
}

} // namespace fakes
