// tracker/IntakeCounts.h: running counts of the tracker intake, kept by the listener and its
// workers, read by anyone (figures, tests) without locks.
#pragma once

#include "platform/Stats.h"

namespace tracker {

struct IntakeCounts
{
    platform::Counter bytesRead;        // bytes read from trackers' connections
    platform::Counter acknowledged;     // packets acknowledged to their tracker
    platform::Counter refusedQueueFull; // good packets not stored: the queue was full
    platform::Counter withheld;         // queued, not acknowledged: not kept in time, or
                                        // records before identification
    platform::Counter dropped;          // packets stalled or with a wrong checksum
    platform::Counter evicted;          // unidentified connections ended for a new one
    platform::Counter refusedAtCeiling; // connections closed at once at the ceiling
    platform::Counter workerFailures;   // workers ended by an unexpected error
    platform::Counter wrongChecksum;    // of the dropped: whole packets with a wrong checksum
    platform::Counter stalled;          // of the dropped: packets that stopped coming midway
};

} // namespace tracker
