// tools/gt20sim/AckedLog.h: the file of acknowledged records, one "<imei> <time>" line each, so a
// test can check that every record the gateway took in reached the message server.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace gt20sim {

// The lines for one acknowledged packet: the IMEI, a blank and the record's time field as
// unsigned decimal seconds, each ended by a newline.
std::string ackedLines(const std::string& imei, const std::vector<std::uint32_t>& times);

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
    void append(const std::string& imei, const std::vector<std::uint32_t>& times);

private:
    std::mutex m_mutex;
    std::FILE* m_file = nullptr; // guarded by m_mutex
};

} // namespace gt20sim
