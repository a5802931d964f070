// tracker/PacketIntake.cpp
#include "tracker/PacketIntake.h"

#include <algorithm>

namespace tracker {

namespace {

// A data packet whose record count is not 0; those records reach the server only under an IMEI.
bool carriesRecords(const std::uint8_t* packet, std::size_t size)
{
    constexpr std::size_t kRecordCountOffset = 2;
    return packetType(readU16(packet)) == kDataPacket &&
           size > kRecordCountOffset + kChecksumSize && packet[kRecordCountOffset] != 0;
}

} // namespace

PacketIntake::PacketIntake(HandoverQueue& queue, bool ackWhenKept,
                           std::chrono::milliseconds keptWait)
    : m_queue(queue), m_ackWhenKept(ackWhenKept), m_keptWait(keptWait)
{
    m_record.reserve(kImeiFieldSize + kMaxPacketSize);
}

void PacketIntake::begin(std::uint32_t connection)
{
    m_connection = connection;
    m_imei.fill(0);
}

Taken PacketIntake::take(const std::uint8_t* packet, std::size_t size)
{
    // The record carries the IMEI the packet itself names when it is an identification packet;
    // the connection takes that IMEI on only once the record is queued, or its next data
    // packets would name a tracker the dispatcher never heard of. One too short to hold an
    // IMEI leaves the field as it was.
    ImeiField imei = m_imei;
    if (packetType(readU16(packet)) == kIdentificationPacket && size >= kImeiOffset + kImeiLength) {
        imei[0] = static_cast<std::uint8_t>(kImeiLength);
        std::copy_n(packet + kImeiOffset, kImeiLength, imei.begin() + 1);
    }
    m_record.assign(imei.begin(), imei.end());
    m_record.insert(m_record.end(), packet, packet + size);

    // Stored first, acknowledged after: a tracker never counts as delivered a packet that a
    // full queue would lose.
    const std::uint64_t sequence =
        m_queue.pushPacket(m_record.data(), m_record.size(), m_connection);
    if (sequence == 0)
        return Taken::QueueFull;
    m_imei = imei;
    if (!identified() && carriesRecords(packet, size))
        return Taken::Unidentified;
    if (m_ackWhenKept && !m_queue.waitKept(sequence, m_keptWait))
        return Taken::NotKept;
    m_ack = buildAcknowledgement(packet, size);
    return Taken::Acknowledge;
}

} // namespace tracker
