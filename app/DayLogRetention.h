// app/DayLogRetention.h: keeps the day logs of the last KeepDayLogs days and removes older ones,
// once at start and then once a day.
#pragma once

#include <functional>
#include <string>

#include "platform/DayLog.h"

namespace app {

class DayLogRetention
{
public:
    // keepDays 0 keeps every day log. report is told of each file removed or left in place;
    // log outlives this.
    DayLogRetention(platform::DayLog& log, int keepDays,
                    std::function<void(const std::string&)> report = {});

    // Main thread, as often as convenient: prunes at the first call and whenever the day log's
    // date has changed since the last pruning.
    void tick();

private:
    platform::DayLog& m_log;
    const int m_keepDays;
    std::function<void(const std::string&)> m_report;
    std::string m_prunedOn; // the date of the last pruning, dd.MM.yyyy
};

} // namespace app
