// tracker/ListenerOptions.h: the limits and waits of the tracker intake.
#pragma once

#include <cstddef>

#include "platform/TickClock.h"

namespace tracker {

// The program uses the defaults; tests shorten the waits and hand in a clock they advance, so
// minutes pass without waiting for them.
struct ListenerOptions
{
    // Measures the inactivity and identification limits.
    const platform::TickClock* clock = &platform::steadyClock();
    int receiveWaitMs = 5000;            // readiness wait of one timed receive
    double inactivityLimitMs = 180000.0; // longer without a good packet ends a connection
    // Longer connected without a valid identification packet in the queue ends a connection,
    // unless an identification packet is arriving at that moment.
    double identifyLimitMs = 30000.0;
    // At the ceiling a new connection takes the place of the connection idle longest that never
    // identified itself; when every connection has, the new one is closed at once.
    std::size_t maxConnections = 10000;
    std::size_t workerStackBytes = 256 * 1024;
    std::size_t keptIdleWorkers = 16; // idle workers beyond these end after idleWorkerMs
    int idleWorkerMs = 60000;         // real time, not the clock above
    // Acknowledge a packet only once the hand-over queue reports its record kept, waiting at
    // most keptWaitMs (real time); without that report in time the tracker gets no
    // acknowledgement and sends the packet again. Off: acknowledged once queued.
    bool ackWhenKept = false;
    int keptWaitMs = 4000;
    int acceptWaitMs = 250;  // how often the accept loop looks at its stop flag
    int acceptRetryMs = 100; // pause after a failed accept, e.g. when out of descriptors
};

} // namespace tracker
