// tools/gt20sim/TrackerLink.h: what a simulated tracker needs from its connection and from the
// run's clock. The simulator uses sockets and the steady clock; tests script both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gt20sim {

struct LinkRead
{
    enum class Status
    {
        Data,
        TimedOut,
        Closed
    } status = Status::TimedOut;
    std::size_t bytes = 0; // 1..count on Data
};

// One tracker's connection to the gateway; used by that tracker's thread only.
class TrackerLink
{
public:
    virtual ~TrackerLink() = default;

    // A fresh connection (a previous one is closed first). False when refused or unreachable.
    virtual bool connect() = 0;

    // All bytes with one send call. False when the connection failed or wrote short.
    virtual bool send(const std::vector<std::uint8_t>& bytes) = 0;

    // Waits up to waitMs for data and reads up to count bytes once. Closed covers errors too.
    virtual LinkRead receive(std::uint8_t* buffer, std::size_t count, int waitMs) = 0;

    virtual void close() = 0;
};

// The run's clock, shared by all trackers of a run.
class Pacer
{
public:
    virtual ~Pacer() = default;

    // Milliseconds since the run began.
    virtual double nowMs() const = 0;

    // Waits until the given run time. False, at once or on waking, when the run is over.
    virtual bool sleepUntil(double ms) = 0;

    virtual bool runOver() const = 0;
};

} // namespace gt20sim
