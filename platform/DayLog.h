// platform/DayLog.h: the day log, one text file per date in the working directory.
#pragma once

#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Formats.h"

namespace platform {

class DayLog
{
public:
    using Now = std::function<std::tm()>;

    // Lines go to <directory>/<dd.MM.yyyy>.log. now gives the local time (tests pin it).
    explicit DayLog(std::string directory, Now now = &localNow);

    // Any thread. Writes one line: the long time, then text, then CR LF. The file is opened,
    // appended and closed for this line alone; lines from all threads are serialised.
    // Returns false when the line was lost (file could not be opened or written).
    bool writeLine(std::string_view text);

    // The path today's lines go to.
    std::string pathFor(const std::tm& when) const;

    // The local time now, as the lines are dated.
    std::tm now() const { return m_now(); }

    struct Pruned
    {
        std::vector<std::string> removed; // file names
        std::vector<std::string> failed;  // file names that could not be removed
    };

    // Removes the day logs (files named by a valid date, dd.MM.yyyy.log) dated keepDays days
    // or more before today: keepDays 1 keeps today's only, 0 removes nothing. Other files are
    // left alone. Any thread; a line written meanwhile goes to today's file, which stays.
    Pruned removeOlderThan(int keepDays);

private:
    const std::string m_directory;
    const Now m_now;
    std::mutex m_mutex; // one writer at a time, so no writer finds the file held
};

} // namespace platform
