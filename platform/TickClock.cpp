// platform/TickClock.cpp: the steady clock as the gateway's tick counter.
#include "platform/TickClock.h"

#include <thread>

namespace platform {

double TickClock::msBetween(std::uint64_t earlier, std::uint64_t later) const
{
    auto diff = static_cast<std::int64_t>(later - earlier);
    return static_cast<double>(diff) / static_cast<double>(ticksPerMs());
}

std::uint64_t TickClock::ticksFor(double ms) const
{
    return static_cast<std::uint64_t>(ms * static_cast<double>(ticksPerMs()));
}

void TickClock::calibrate(std::chrono::milliseconds window) const
{
    std::uint64_t t0 = read();
    std::this_thread::sleep_for(window);
    std::uint64_t t1 = read();
    auto diff = static_cast<std::int64_t>(t1 - t0);
    auto perMs =
        static_cast<std::int64_t>(static_cast<double>(diff) / static_cast<double>(window.count()));
    // A zero rate (a clock that did not move) would turn every interval into a division by zero;
    // such a clock keeps the rate it has.
    if (perMs > 0)
        m_ticksPerMs.store(perMs, std::memory_order_relaxed);
}

std::uint64_t SteadyTickClock::read() const
{
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
}

const TickClock& steadyClock()
{
    static const SteadyTickClock clock;
    return clock;
}

} // namespace platform
