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
    EXPECT_EQ(1999, platform::calibrateTicksPerMs(clock, std::chrono::milliseconds(1000)));
    SteppingClock still(7, 0);
    EXPECT_EQ(1, platform::calibrateTicksPerMs(still, std::chrono::milliseconds(1)));
}

TEST(TickClockTest, ElapsedIsSignedDifferenceOverRate)
{
    EXPECT_DOUBLE_EQ(180000.0, platform::elapsedMs(1000, 1000 + 180000ull * 3, 3));
    EXPECT_DOUBLE_EQ(-2.0, platform::elapsedMs(10, 4, 3));
    // Across the wrap of the unsigned count the difference is still small and positive.
    EXPECT_DOUBLE_EQ(5.0, platform::elapsedMs(~0ull - 4, 5, 2));
}

TEST(TickClockTest, SteadyClockRunsAboutOneMillionTicksPerMs)
{
    // The window is long enough that a loaded machine oversleeping it cannot double the count.
    std::int64_t perMs =
        platform::calibrateTicksPerMs(platform::steadyClock(), std::chrono::milliseconds(200));
    EXPECT_GT(perMs, 900'000);
    EXPECT_LT(perMs, 2'000'000);
}
