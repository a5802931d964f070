// tracker/PacketReader.h: cuts packets from a connection's byte stream, one timed receive at a
// time, assembling a packet that arrives in several pieces.
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

// Where a connection's bytes come from: a socket in the gateway, memory in tests, benchmarks
// and fuzzing.
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
    Packet,       // packet() holds one whole packet with a right checksum
    Partial,      // bytes arrived; the packet is not complete yet
    Idle,         // the wait ran out with no packet begun
    Dropped,      // a begun packet stalled for a whole wait
    Ended,        // the peer closed, or a receive or wait failed: the connection is over
    WrongChecksum // a whole packet whose checksum was wrong: dropped
};

// One connection's packet being assembled. Each step makes one receive and asks it for no more
// than the rest of the packet being assembled, so the next packet's bytes stay in the socket.
// A packet is completed as long as its bytes keep coming, however split; one that stalls for a
// whole receive wait is dropped, and the next bytes start a new header. A wrong checksum drops
// the packet and the following two bytes are taken as the next header (there is no search for
// a packet start).
class PacketReader
{
public:
    PacketReader();

    // One timed receive from source.
    CycleResult step(ByteSource& source);

    // After Packet: the packet, from header word to checksum. Valid until the next step.
    const Bytes& packet() const { return m_buffer; }

    // Part of a packet is held.
    bool assembling() const { return m_have > 0; }

    // The header word has arrived and names an identification packet.
    bool assemblingIdentification() const;

    // Forgets any part held; for the next connection.
    void reset() { m_have = 0; }

private:
    std::size_t wanted() const; // bytes the packet still needs

    Bytes m_buffer;         // the packet being assembled, reused; its size is kMaxPacketSize
                            // while assembling
    std::size_t m_have = 0; // bytes of it received
};

} // namespace tracker
