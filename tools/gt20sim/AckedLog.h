// tools/gt20sim/AckedLog.h: the file of acknowledged records, one "<imei> <time> <acked at>" line
// each, so a test can check that every record the gateway took in reached the message server, and
// how long after its acknowledgement.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace gt20sim {

// The lines for one acknowledged packet: the IMEI, a blank, the record's time field as unsigned
// decimal seconds, a blank and when the acknowledgement arrived (microseconds on the monotonic
// clock, tools/common/Monotonic.h), each ended by a newline. (IMEI, time) names one record: a
// tracker gives each of its records a time of its own.
std::string ackedLines(const std::string& imei, const std::vector<std::uint32_t>& times,
                       std::int64_t ackedAtUs);

// The time member a position message carries for this time field ("03.05.2017 9:51:34"; the date
// alone at midnight), so that an acknowledged record can be found among the messages.
std::string messageTimeText(std::uint32_t seconds);

class AckedLog
{
public:
    AckedLog() = default;
    ~AckedLog();
    AckedLog(const AckedLog&) = delete;
    AckedLog& operator=(const AckedLog&) = delete;

    // Opens the file for appending (created when missing). False when it cannot be opened.
    bool open(const std::string& path);

    // Any thread. Writes the packet's lines in one piece and flushes them, so a run that is killed
    // loses no acknowledged record. Does nothing when no file is open.
    void append(const std::string& imei, const std::vector<std::uint32_t>& times,
                std::int64_t ackedAtUs);

private:
    std::mutex m_mutex;
    std::FILE* m_file = nullptr; // guarded by m_mutex
};

} // namespace gt20sim
