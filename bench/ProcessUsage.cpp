// bench/ProcessUsage.cpp
#include "bench/ProcessUsage.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace loadbench {

namespace {

// utime and stime are fields 14 and 15 of the line; the state, field 3, follows the ')'.
constexpr int kUserTimeAfterName = 11;

std::string procFile(pid_t pid, const char* name)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

std::optional<std::uint64_t> cpuTicksOfStat(const std::string& stat)
{
    std::size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(stat.substr(close + 1));
    std::string skipped;
    for (int i = 0; i < kUserTimeAfterName && fields >> skipped;)
        ++i;
    std::uint64_t user = 0, system = 0;
    if (!(fields >> user >> system))
        return std::nullopt;
    return user + system;
}

std::optional<std::uint64_t> residentKbOfStatus(const std::string& status)
{
    std::istringstream lines(status);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("VmRSS:", 0) != 0)
            continue;
        std::uint64_t kb = 0;
        if (std::istringstream(line.substr(6)) >> kb)
            return kb;
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<double> cpuSeconds(pid_t pid)
{
    auto ticks = cpuTicksOfStat(procFile(pid, "stat"));
    if (!ticks)
        return std::nullopt;
    return static_cast<double>(*ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::optional<double> residentMegabytes(pid_t pid)
{
    auto kb = residentKbOfStatus(procFile(pid, "status"));
    if (!kb)
        return std::nullopt;
    return static_cast<double>(*kb) / 1024;
}

} // namespace loadbench
