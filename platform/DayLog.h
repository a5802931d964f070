// platform/DayLog.h: the day log, one text file per date in the working directory.
#pragma once

#include <chrono>
#include <cstdio>
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

    ~DayLog();

    DayLog(const DayLog&) = delete;
    DayLog& operator=(const DayLog&) = delete;

    // Any thread. Writes one line: the long time, then text, then CR LF, flushed to the file at
    // once. The file is kept open between lines, and opened anew when the date changes or (looked
    // at once a second) the file has gone; lines from all threads are serialised. Returns false
    // when the line was lost (the file could not be opened or written); the next line opens the
    // file again.
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
    // Under m_mutex: today's file open for appending, or false.
    bool openFor(const std::string& path);
    void closeFile();

    const std::string m_directory;
    const Now m_now;
    std::mutex m_mutex;          // one writer at a time; guards what follows
    std::FILE* m_file = nullptr; // the file of m_path, open for appending
    std::string m_path;
    std::chrono::steady_clock::time_point m_checkedAt; // when the file was last seen there
};

} // namespace platform
