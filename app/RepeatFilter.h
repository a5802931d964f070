// app/RepeatFilter.h: keeps lines that repeat every few seconds (a server that stays
// unreachable, at one address or taking turns at several) from filling the journal: a line
// passes at once, and the same line again only once the interval has passed since it was shown.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace app {

class RepeatFilter
{
public:
    using Clock = std::chrono::steady_clock;

    explicit RepeatFilter(Clock::duration interval) : m_interval(interval) {}

    // Any thread. True when the line should be shown now.
    bool pass(const std::string& line, Clock::time_point now)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // Lines shown longer ago than the interval would pass again anyway: forgotten.
        std::erase_if(m_shownAt,
                      [&](const auto& shown) { return now - shown.second >= m_interval; });
        return m_shownAt.try_emplace(line, now).second;
    }

private:
    const Clock::duration m_interval;
    std::mutex m_mutex;
    std::map<std::string, Clock::time_point> m_shownAt; // guarded by m_mutex
};

} // namespace app
