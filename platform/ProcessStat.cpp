// platform/ProcessStat.cpp: reading a /proc/<pid>/stat line; plain text work, on every system.
#include "platform/ProcessFigures.h"

#include <charconv>
#include <sstream>
#include <string>
#include <vector>

namespace platform {

namespace {

// Fields of /proc/<pid>/stat, counted from 1 as proc(5) does.
constexpr std::size_t kUserTime = 14;
constexpr std::size_t kSystemTime = 15;
constexpr std::size_t kThreads = 20;
constexpr std::size_t kStartTime = 22;
constexpr std::size_t kResidentPages = 24;
// The first field after the program's name.
constexpr std::size_t kFirstAfterName = 3;

} // namespace

std::optional<ProcessFigures> parseProcessStat(std::string_view text, double ticksPerSecond,
                                               double pageBytes, double bootTimeSeconds)
{
    // The name stands in parentheses and may hold any character: the fields begin after the
    // last closing one.
    const std::size_t close = text.rfind(')');
    if (close == std::string_view::npos || ticksPerSecond <= 0)
        return std::nullopt;
    std::vector<double> fields;
    std::istringstream in(std::string(text.substr(close + 1)));
    in >> std::ws;
    for (std::string word; in >> word && fields.size() + kFirstAfterName <= kResidentPages;) {
        double value = 0;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
        fields.push_back(error == std::errc() && end == word.data() + word.size() ? value : -1);
    }
    if (fields.size() + kFirstAfterName <= kResidentPages)
        return std::nullopt;
    auto field = [&](std::size_t n) { return fields[n - kFirstAfterName]; };
    for (std::size_t n : {kUserTime, kSystemTime, kThreads, kStartTime, kResidentPages})
        if (field(n) < 0)
            return std::nullopt;
    ProcessFigures f;
    f.cpuSeconds = (field(kUserTime) + field(kSystemTime)) / ticksPerSecond;
    f.residentBytes = field(kResidentPages) * pageBytes;
    f.threads = field(kThreads);
    f.startTimeSeconds = bootTimeSeconds + field(kStartTime) / ticksPerSecond;
    return f;
}

} // namespace platform
