// tracker/PacketReader.h: one read cycle of a connection: cut the next packet from the stream.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tracker/PacketFormat.h"

namespace tracker {

// What one timed receive reports.
enum class ReceiveStatus
{
    Data,
    TimedOut,
    Closed,
    Failed,
    WaitFailed
};

// Where a connection's bytes come from: a socket in the gateway, memory in tests and benchmarks.
class ByteSource
{
public:
    virtual ~ByteSource() = default;

    // One timed receive: waits for readiness, then makes exactly one read of at most count
    // bytes. On Data, *received is 1..count.
    virtual ReceiveStatus receive(std::uint8_t* buffer, std::size_t count,
                                  std::size_t* received) = 0;
};

enum class CycleResult
{
    Packet,  // the buffer holds one packet with a right checksum
    Nothing, // time-out, a short header or body, or a wrong checksum: nothing to acknowledge
    Ended    // the peer closed, or a receive or wait failed: the connection is over
};

// Reads a 2-byte header with one receive, then its body and checksum with one more.
// Anything short or with a wrong checksum is dropped; the next cycle takes whatever follows as
// the next header (there is no search for a packet start). On Packet, buffer holds exactly the
// packet. The buffer is reused across cycles.
CycleResult readPacket(ByteSource& source, Bytes& buffer);

} // namespace tracker
