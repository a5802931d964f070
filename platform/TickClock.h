// platform/TickClock.h: the tick clock that every interval in the gateway is measured with.
#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

// A source of tick readings. The shipped program reads the steady clock; tests hand in a clock
// they advance by hand, so limits of minutes are checked without waiting.
class TickClock
{
public:
    virtual ~TickClock() = default;

    // Any thread. A monotonic count read as unsigned 64-bit.
    virtual std::uint64_t read() const = 0;
};

// The steady clock in nanoseconds.
class SteadyTickClock final : public TickClock
{
public:
    std::uint64_t read() const override;
};

// The process-wide steady clock.
const TickClock& steadyClock();

// Ticks per millisecond: reads the clock, sleeps for the window (one second in the program),
// reads again, divides the difference by the window's milliseconds and truncates.
// Blocks for the window.
std::int64_t
calibrateTicksPerMs(const TickClock& clock,
                    std::chrono::milliseconds window = std::chrono::milliseconds(1000));

// Milliseconds from earlier to later: the difference taken as signed 64-bit, divided in floating
// point by ticks per millisecond.
double elapsedMs(std::uint64_t earlier, std::uint64_t later, std::int64_t ticksPerMs);

} // namespace platform
