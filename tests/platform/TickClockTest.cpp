// tests/platform/TickClockTest.cpp
#include "platform/TickClock.h"

#include <gtest/gtest.h>

namespace {

// Moves by a fixed step at every reading.
class SteppingClock final : public platform::TickClock
{
public:
    explicit SteppingClock(std::uint64_t start, std::uint64_t step) : m_now(start), m_step(step) {}
    std::uint64_t read() const override
    {
        std::uint64_t v = m_now;
        m_now += m_step;
        return v;
    }

private:
    mutable std::uint64_t m_now;
    std::uint64_t m_step;
};

} // namespace

TEST(TickClockTest, CalibrationDividesByTheWindowAndTruncates)
{
    SteppingClock clock(500, 1'999'999); // one reading before and one after the window
    clock.calibrate(std::chrono::milliseconds(1000));
    EXPECT_EQ(1999, clock.ticksPerMs());
    // A clock that did not move keeps its rate: no interval becomes a division by zero.
    SteppingClock still(7, 0);
    still.calibrate(std::chrono::milliseconds(1));
    EXPECT_EQ(1, still.ticksPerMs());
}

TEST(TickClockTest, ElapsedIsSignedDifferenceOverRate)
{
    SteppingClock three(0, 3000); // 3 ticks per ms once calibrated over 1000 ms
    three.calibrate(std::chrono::milliseconds(1000));
    ASSERT_EQ(3, three.ticksPerMs());
    EXPECT_DOUBLE_EQ(180000.0, three.msBetween(1000, 1000 + 180000ull * 3));
    EXPECT_DOUBLE_EQ(-2.0, three.msBetween(10, 4));
    EXPECT_EQ(30u, three.ticksFor(10));
    // Across the wrap of the unsigned count the difference is still small and positive.
    EXPECT_DOUBLE_EQ(3.0, three.msBetween(~0ull - 4, 4));
}

TEST(TickClockTest, SteadyClockRunsAboutOneMillionTicksPerMs)
{
    // The window is long enough that a loaded machine oversleeping it cannot double the count.
    platform::steadyClock().calibrate(std::chrono::milliseconds(200));
    const std::int64_t perMs = platform::steadyClock().ticksPerMs();
    EXPECT_GT(perMs, 900'000);
    EXPECT_LT(perMs, 2'000'000);
}
