// tracker/PacketReader.cpp
#include "tracker/PacketReader.h"

#include <algorithm>

#include "tracker/Crc16.h"

namespace tracker {

PacketReader::PacketReader()
{
    m_buffer.reserve(kMaxPacketSize);
}

std::size_t PacketReader::wanted() const
{
    if (m_have < kHeaderSize)
        return kHeaderSize - m_have;
    return kHeaderSize + bodyLength(readU16(m_buffer.data())) + kChecksumSize - m_have;
}

bool PacketReader::assemblingIdentification() const
{
    return m_have >= kHeaderSize && packetType(readU16(m_buffer.data())) == kIdentificationPacket;
}

CycleResult PacketReader::step(ByteSource& source)
{
    if (m_have == 0)
        m_buffer.resize(kMaxPacketSize);
    std::size_t got = 0;
    ReceiveStatus s = source.receive(m_buffer.data() + m_have, wanted(), &got);
    switch (s) {
    case ReceiveStatus::Data:
        break;
    case ReceiveStatus::TimedOut: {
        // A tracker that went quiet in the middle of a packet will send it again whole.
        const bool stalled = m_have > 0;
        m_have = 0;
        return stalled ? CycleResult::Dropped : CycleResult::Idle;
    }
    case ReceiveStatus::Closed:
    case ReceiveStatus::Failed:
    case ReceiveStatus::WaitFailed:
        m_have = 0;
        return CycleResult::Ended;
    }
    m_have += std::min(got, wanted()); // a source never gives more than asked; trust no count
    if (wanted() > 0)
        return CycleResult::Partial;

    m_buffer.resize(m_have);
    m_have = 0;
    return checksumMatches(m_buffer.data(), m_buffer.size()) ? CycleResult::Packet
                                                             : CycleResult::WrongChecksum;
}

} // namespace tracker
