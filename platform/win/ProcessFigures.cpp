// platform/win/ProcessFigures.cpp: Windows tells the process's CPU time and start cheaply; the
// rest stays absent.
#include "platform/ProcessFigures.h"

#include <windows.h>

namespace platform {

namespace {

// A FILETIME as 100-nanosecond units.
double hundredNanoseconds(const FILETIME& t)
{
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime);
}

// Seconds from 1601-01-01 (FILETIME's epoch) to 1970-01-01.
constexpr double kUnixEpochSeconds = 11644473600.0;

} // namespace

ProcessFigures readProcessFigures()
{
    ProcessFigures f;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        f.cpuSeconds = (hundredNanoseconds(kernel) + hundredNanoseconds(user)) / 1e7;
        f.startTimeSeconds = hundredNanoseconds(created) / 1e7 - kUnixEpochSeconds;
    }
    return f;
}

} // namespace platform
