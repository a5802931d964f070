// tracker/IntakeCounts.h: running counts of the tracker intake, kept by the listener and its
// workers, read by anyone (figures, tests) without locks.
#pragma once

#include <cstdint>

#include "platform/Stats.h"

namespace tracker {

struct IntakeCounts
{
    platform::Counter bytesRead;        // bytes read from trackers' connections
    platform::Counter acknowledged;     // packets acknowledged to their tracker
    platform::Counter refusedQueueFull; // good packets not stored: the queue was full
    platform::Counter withheld;         // queued, not acknowledged: not kept in time, or
                                        // records before identification
    platform::Counter evicted;          // unidentified connections ended for a new one
    platform::Counter refusedAtCeiling; // connections closed at once at the ceiling
    platform::Counter workerFailures;   // workers ended by an unexpected error
    platform::Counter wrongChecksum;    // whole packets with a wrong checksum, dropped
    platform::Counter stalled;          // packets that stopped coming midway, dropped

    std::uint64_t dropped() const { return wrongChecksum.get() + stalled.get(); }
};

} // namespace tracker
