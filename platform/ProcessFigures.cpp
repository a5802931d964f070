// platform/ProcessFigures.cpp: Linux, from /proc.
#include "platform/ProcessFigures.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace platform {

namespace {

std::string fileText(const char* path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<double> bootTimeSeconds()
{
    std::istringstream in(fileText("/proc/stat"));
    for (std::string key; in >> key;) {
        if (key == "btime") {
            double seconds = 0;
            if (in >> seconds)
                return seconds;
            return std::nullopt;
        }
        in.ignore(1 << 16, '\n');
    }
    return std::nullopt;
}

std::optional<double> openDescriptors()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return std::nullopt;
    double count = 0;
    while (const dirent* entry = ::readdir(dir))
        count += entry->d_name[0] != '.';
    ::closedir(dir);
    return count - 1; // the listing's own descriptor
}

} // namespace

ProcessFigures readProcessFigures()
{
    ProcessFigures f;
    static const std::optional<double> boot = bootTimeSeconds();
    if (boot)
        if (std::optional<ProcessFigures> stat = parseProcessStat(
                fileText("/proc/self/stat"), static_cast<double>(::sysconf(_SC_CLK_TCK)),
                static_cast<double>(::sysconf(_SC_PAGESIZE)), *boot))
            f = *stat;
    f.openFiles = openDescriptors();
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        f.maxOpenFiles = static_cast<double>(limit.rlim_cur);
    return f;
}

} // namespace platform
