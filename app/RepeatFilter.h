// app/RepeatFilter.h: keeps a line that repeats every few seconds (a server that stays
// unreachable) from filling the journal: a new line passes at once, the same one again only
// after the interval.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
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
        if (line == m_last && m_shownAt && now - *m_shownAt < m_interval)
            return false;
        m_last = line;
        m_shownAt = now;
        return true;
    }

private:
    const Clock::duration m_interval;
    std::mutex m_mutex;
    std::string m_last;                         // guarded by m_mutex
    std::optional<Clock::time_point> m_shownAt; // guarded by m_mutex
};

} // namespace app
