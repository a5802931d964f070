// tests/fakes/FakeClock.h: a tick clock that moves only when the test says so.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/TickClock.h"

namespace fakes {

class FakeClock final : public platform::TickClock
{
public:
    // One tick per microsecond, so ticks per millisecond is 1000.
    static constexpr std::int64_t kTicksPerMs = 1000;

    FakeClock() : TickClock(kTicksPerMs) {}

    std::uint64_t read() const override
    {
        ++m_reads; // first: a read counted after an advance sees the advanced time
        return m_now.load();
    }
    void advanceMs(double ms) { m_now += static_cast<std::uint64_t>(ms * kTicksPerMs); }

    // How often the clock was read: a test waits for reads after an advance to know the time
    // has been looked at since.
    std::uint64_t reads() const { return m_reads.load(); }

private:
    std::atomic<std::uint64_t> m_now{1'000'000'000};
    mutable std::atomic<std::uint64_t> m_reads{0};
};

} // namespace fakes
