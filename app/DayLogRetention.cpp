// app/DayLogRetention.cpp
#include "app/DayLogRetention.h"

#include "platform/Formats.h"

namespace app {

DayLogRetention::DayLogRetention(platform::DayLog& log, int keepDays,
                                 std::function<void(const std::string&)> report)
    : m_log(log), m_keepDays(keepDays), m_report(std::move(report))
{
}

void DayLogRetention::tick()
{
    if (m_keepDays <= 0)
        return;
    std::string today = platform::shortDate(m_log.now());
    if (today == m_prunedOn)
        return;
    m_prunedOn = today;
    platform::DayLog::Pruned pruned = m_log.removeOlderThan(m_keepDays);
    if (!m_report)
        return;
    const std::string age = " (KeepDayLogs=" + std::to_string(m_keepDays) + ")";
    for (const std::string& name : pruned.removed)
        m_report("day log " + name + " removed" + age);
    for (const std::string& name : pruned.failed)
        m_report("day log " + name + " could not be removed" + age);
}

} // namespace app
