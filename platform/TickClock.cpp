// platform/TickClock.cpp: the steady clock as the gateway's tick counter.
#include "platform/TickClock.h"

#include <thread>

namespace platform {

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

std::int64_t calibrateTicksPerMs(const TickClock& clock, std::chrono::milliseconds window)
{
    std::uint64_t t0 = clock.read();
    std::this_thread::sleep_for(window);
    std::uint64_t t1 = clock.read();
    auto diff = static_cast<std::int64_t>(t1 - t0);
    auto perMs =
        static_cast<std::int64_t>(static_cast<double>(diff) / static_cast<double>(window.count()));
    // A zero rate would turn every interval into a division by zero.
    return perMs > 0 ? perMs : 1;
}

double elapsedMs(std::uint64_t earlier, std::uint64_t later, std::int64_t ticksPerMs)
{
    auto diff = static_cast<std::int64_t>(later - earlier);
    return static_cast<double>(diff) / static_cast<double>(ticksPerMs);
}

} // namespace platform
