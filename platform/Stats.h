// platform/Stats.h: running figures that one thread keeps and another reads (metrics, status
// lines), without locks.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace platform {

// A count that only grows.
class Counter
{
public:
    void add(std::uint64_t n = 1) { m_value.fetch_add(n, std::memory_order_relaxed); }
    std::uint64_t get() const { return m_value.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> m_value{0};
};

// Durations in seconds, counted into fixed buckets (upper bounds, each bucket counting the
// observations at or below its bound, as Prometheus histograms do).
class Histogram
{
public:
    // From a live delivery over a near link (milliseconds) to a backlog drained after an
    // outage of hours; a delivery of more than four hours counts only in +Inf.
    static constexpr std::array<double, 20> kBounds = {
        0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,  0.1,    0.25,   0.5,    1.0,
        2.5,   10.0,   30.0,  60.0, 300.0, 900.0, 1800.0, 3600.0, 7200.0, 14400.0};

    struct Snapshot
    {
        std::array<std::uint64_t, kBounds.size()> cumulative{}; // observations <= kBounds[i]
        std::uint64_t count = 0;
        double sum = 0;
    };

    void observe(double seconds)
    {
        for (std::size_t i = 0; i < kBounds.size(); ++i)
            if (seconds <= kBounds[i]) {
                m_buckets[i].fetch_add(1, std::memory_order_relaxed);
                break;
            }
        m_count.fetch_add(1, std::memory_order_relaxed);
        m_microseconds.fetch_add(static_cast<std::uint64_t>(seconds * 1e6),
                                 std::memory_order_relaxed);
    }

    Snapshot snapshot() const
    {
        Snapshot s;
        std::uint64_t running = 0;
        for (std::size_t i = 0; i < kBounds.size(); ++i) {
            running += m_buckets[i].load(std::memory_order_relaxed);
            s.cumulative[i] = running;
        }
        s.count = m_count.load(std::memory_order_relaxed);
        s.sum = static_cast<double>(m_microseconds.load(std::memory_order_relaxed)) / 1e6;
        return s;
    }

private:
    std::array<std::atomic<std::uint64_t>, kBounds.size()> m_buckets{};
    std::atomic<std::uint64_t> m_count{0};
    std::atomic<std::uint64_t> m_microseconds{0};
};

} // namespace platform
