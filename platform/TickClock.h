// platform/TickClock.h: the tick clock that every interval in the gateway is measured with.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace platform {

// A monotonic tick count and its rate: the one object that answers "how many milliseconds since".
// The shipped program reads the steady clock and calibrates its rate once at start-up; tests hand
// in a clock they advance by hand, with a fixed rate, so limits of minutes are checked without
// waiting.
class TickClock
{
public:
    explicit TickClock(std::int64_t ticksPerMs = 1) : m_ticksPerMs(ticksPerMs > 0 ? ticksPerMs : 1)
    {
    }
    virtual ~TickClock() = default;

    // Any thread. A monotonic count read as unsigned 64-bit.
    virtual std::uint64_t read() const = 0;

    // Any thread. Milliseconds from earlier to later: the difference taken as signed 64-bit,
    // divided in floating point by the ticks per millisecond.
    double msBetween(std::uint64_t earlier, std::uint64_t later) const;
    double msSince(std::uint64_t earlier) const { return msBetween(earlier, read()); }

    // Ticks for a span of milliseconds (a reading moved back or forth by it).
    std::uint64_t ticksFor(double ms) const;

    std::int64_t ticksPerMs() const { return m_ticksPerMs.load(std::memory_order_relaxed); }

    // Measures the rate: reads, sleeps for the window (one second in the program), reads again,
    // divides by the window's milliseconds and truncates. Blocks for the window. Once, at
    // start-up, before the other threads read intervals.
    void calibrate(std::chrono::milliseconds window = std::chrono::milliseconds(1000)) const;

private:
    // Mutable: the rate is a measurement of the clock, not part of its readings.
    mutable std::atomic<std::int64_t> m_ticksPerMs;
};

// The steady clock in nanoseconds.
class SteadyTickClock final : public TickClock
{
public:
    SteadyTickClock() : TickClock(1'000'000) {}
    std::uint64_t read() const override;
};

// The process-wide steady clock.
const TickClock& steadyClock();

} // namespace platform
