// platform/ProcessFigures.h: what the operating system says about this process (CPU time,
// memory, descriptors, threads, start), for the metrics endpoint.
#pragma once

#include <optional>
#include <string_view>

namespace platform {

// Each figure is absent where the system does not tell it (cheaply).
struct ProcessFigures
{
    std::optional<double> cpuSeconds;       // user and system CPU time since start
    std::optional<double> residentBytes;    // resident memory
    std::optional<double> openFiles;        // file descriptors open now
    std::optional<double> maxOpenFiles;     // the soft limit on them
    std::optional<double> startTimeSeconds; // when the process started, since the Unix epoch
    std::optional<double> threads;          // threads now
};

// Any thread. Reads the system's figures afresh at each call (Linux: /proc/self; Windows: the
// process's times only).
ProcessFigures readProcessFigures();

// The figures in one /proc/<pid>/stat text, given the system's clock ticks per second, its page
// size in bytes and its boot time (seconds since the Unix epoch): CPU time, resident memory,
// threads and start time. Nothing when the text is not such a line. The program's name in it
// may hold blanks and parentheses.
std::optional<ProcessFigures> parseProcessStat(std::string_view text, double ticksPerSecond,
                                               double pageBytes, double bootTimeSeconds);

} // namespace platform
