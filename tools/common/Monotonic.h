// tools/common/Monotonic.h: the machine-wide monotonic clock, for stamps that other processes
// compare with their own (the simulator's acknowledgements, the test server's arrivals).
#pragma once

#include <chrono>
#include <cstdint>

namespace tools {

// Microseconds on the monotonic clock that every process of this machine shares (on Linux the
// steady clock reads CLOCK_MONOTONIC); any thread.
inline std::int64_t monotonicMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace tools
