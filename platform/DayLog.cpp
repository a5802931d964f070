// platform/DayLog.cpp
#include "platform/DayLog.h"

#include <chrono>
#include <filesystem>
#include <optional>

#include "platform/Files.h"

namespace platform {

namespace {

// The date in a day log's file name, or nothing when the name is not one.
std::optional<std::chrono::sys_days> dateOfName(const std::string& name)
{
    // dd.MM.yyyy.log
    if (name.size() != 14 || name[2] != '.' || name[5] != '.' || name.substr(10) != ".log")
        return std::nullopt;
    for (std::size_t i : {0, 1, 3, 4, 6, 7, 8, 9})
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
    auto number = [&](std::size_t at, std::size_t digits) {
        return std::stoi(name.substr(at, digits));
    };
    std::chrono::year_month_day date{std::chrono::year(number(6, 4)),
                                     std::chrono::month(static_cast<unsigned>(number(3, 2))),
                                     std::chrono::day(static_cast<unsigned>(number(0, 2)))};
    if (!date.ok())
        return std::nullopt;
    return std::chrono::sys_days(date);
}

} // namespace

DayLog::DayLog(std::string directory, Now now)
    : m_directory(std::move(directory)), m_now(std::move(now))
{
}

DayLog::~DayLog()
{
    closeFile();
}

void DayLog::closeFile()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

bool DayLog::openFor(const std::string& path)
{
    const auto now = std::chrono::steady_clock::now();
    // A file moved or removed behind our back (by hand, or by a rotation) is made again.
    if (m_file && path == m_path && now - m_checkedAt < std::chrono::seconds(1))
        return true;
    std::error_code ec;
    if (m_file && path == m_path && std::filesystem::exists(path, ec)) {
        m_checkedAt = now;
        return true;
    }
    closeFile();
    m_file = std::fopen(path.c_str(), "ab");
    m_path = path;
    m_checkedAt = now;
    return m_file != nullptr;
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
    if (!openFor(path))
        return false;
    if (std::fwrite(line.data(), 1, line.size(), m_file) == line.size() && std::fflush(m_file) == 0)
        return true;
    closeFile(); // the next line tries a fresh file
    return false;
}

DayLog::Pruned DayLog::removeOlderThan(int keepDays)
{
    Pruned out;
    if (keepDays <= 0)
        return out;
    std::tm today = m_now();
    std::chrono::sys_days oldestKept =
        std::chrono::sys_days(
            std::chrono::year_month_day{std::chrono::year(today.tm_year + 1900),
                                        std::chrono::month(static_cast<unsigned>(today.tm_mon + 1)),
                                        std::chrono::day(static_cast<unsigned>(today.tm_mday))}) -
        std::chrono::days(keepDays - 1);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_directory, ec)) {
        std::string name = entry.path().filename().string();
        std::optional<std::chrono::sys_days> date = dateOfName(name);
        if (!date || *date >= oldestKept || !entry.is_regular_file(ec))
            continue;
        std::error_code removeError;
        if (std::filesystem::remove(entry.path(), removeError))
            out.removed.push_back(name);
        else
            out.failed.push_back(name);
    }
    return out;
}

} // namespace platform
