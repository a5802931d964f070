// tracker/PacketIntake.h: what a connection's worker does with each whole packet whose checksum
// is right: learn the tracker's IMEI, queue the packet record, decide on the acknowledgement.
// Plain code, no thread or socket: the worker drives it, and so can a test or a fuzz target.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "tracker/HandoverQueue.h"
#include "tracker/PacketFormat.h"

namespace tracker {

// What became of a packet handed to take().
enum class Taken
{
    Acknowledge,  // queued (and kept, where that is awaited): send acknowledgement()
    QueueFull,    // not stored: no acknowledgement, the tracker sends it again
    Unidentified, // a data packet with records before the connection identified itself:
                  // queued for the day log, but its records name no tracker and cannot be
                  // delivered, so no acknowledgement; the tracker sends it again
    NotKept       // queued, but not kept within the wait: no acknowledgement; the record is
                  // still delivered, and so is the tracker's repeat (it may arrive twice)
};

class PacketIntake
{
public:
    // With ackWhenKept, a packet is acknowledged only once the queue reports its record kept,
    // waiting at most keptWait for it. The queue must outlive the intake.
    PacketIntake(HandoverQueue& queue, bool ackWhenKept = false,
                 std::chrono::milliseconds keptWait = std::chrono::milliseconds(4000));

    // A new connection: nothing known about its tracker yet.
    void begin(std::uint32_t connection);

    // packet: one whole packet, header word to checksum (4..1027 bytes), checksum right.
    // Queues its record behind the IMEI field. An identification packet long enough to hold
    // an IMEI sets the IMEI field, for its own record and the ones after it, once its record
    // is in the queue; a full queue leaves the field as it was. May block for the kept wait
    // (not for an unidentified data packet: it is never acknowledged).
    Taken take(const std::uint8_t* packet, std::size_t size);

    // After Acknowledge: the three bytes to send.
    const Acknowledgement& acknowledgement() const { return m_ack; }

    // A valid identification packet of this connection is in the queue.
    bool identified() const { return m_imei[0] != 0; }
    const ImeiField& imei() const { return m_imei; }

private:
    HandoverQueue& m_queue;
    const bool m_ackWhenKept;
    const std::chrono::milliseconds m_keptWait;
    std::uint32_t m_connection = 0;
    ImeiField m_imei{};
    Bytes m_record; // IMEI field and packet, reused
    Acknowledgement m_ack{};
};

} // namespace tracker
