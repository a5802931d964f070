// bench/ProcessUsage.h: what another process of this machine has used so far, read from /proc:
// CPU time (user and system) and resident memory.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace loadbench {

// utime + stime of a /proc/<pid>/stat text, in clock ticks. The command name between the
// parentheses may itself hold blanks and parentheses, so the fields are counted from the last
// ')'. Nothing when the text is cut short.
std::optional<std::uint64_t> cpuTicksOfStat(const std::string& stat);

// The VmRSS line of a /proc/<pid>/status text, in kB. Nothing without one (a zombie has none).
std::optional<std::uint64_t> residentKbOfStatus(const std::string& status);

// CPU seconds the process has used so far (ticks over sysconf(_SC_CLK_TCK), so in steps of
// 10 ms at the usual 100 ticks a second). Nothing when it is gone.
std::optional<double> cpuSeconds(pid_t pid);

// Its resident memory now, in MB (2^20 bytes). Nothing when it is gone.
std::optional<double> residentMegabytes(pid_t pid);

} // namespace loadbench
