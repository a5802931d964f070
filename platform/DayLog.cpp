// platform/DayLog.cpp
#include "platform/DayLog.h"

#include "platform/Files.h"

namespace platform {

DayLog::DayLog(std::string directory, Now now)
    : m_directory(std::move(directory)), m_now(std::move(now))
{
}

std::string DayLog::pathFor(const std::tm& when) const
{
    return joinPath(m_directory, shortDate(when) + ".log");
}

bool DayLog::writeLine(std::string_view text)
{
    // Date and time come from one reading, so a line written at midnight goes to the file
    // of the date its time belongs to.
    std::tm when = m_now();
    std::string line = longTime(when);
    line.append(text);
    line.append("\r\n");
    std::string path = pathFor(when);
    std::lock_guard<std::mutex> lock(m_mutex);
    return appendToFile(path, line);
}

} // namespace platform
