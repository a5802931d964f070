// tracker/PacketReader.cpp
#include "tracker/PacketReader.h"

#include "tracker/Crc16.h"

namespace tracker {

namespace {

bool ends(ReceiveStatus s)
{
    return s == ReceiveStatus::Closed || s == ReceiveStatus::Failed ||
           s == ReceiveStatus::WaitFailed;
}

} // namespace

CycleResult readPacket(ByteSource& source, Bytes& buffer)
{
    buffer.resize(kMaxPacketSize);
    std::size_t got = 0;
    ReceiveStatus s = source.receive(buffer.data(), kHeaderSize, &got);
    if (ends(s))
        return CycleResult::Ended;
    if (s != ReceiveStatus::Data || got < kHeaderSize)
        return CycleResult::Nothing; // a lone header byte is lost

    std::size_t rest = bodyLength(readU16(buffer.data())) + kChecksumSize;
    s = source.receive(buffer.data() + kHeaderSize, rest, &got);
    if (ends(s))
        return CycleResult::Ended;
    if (s != ReceiveStatus::Data || got < rest)
        return CycleResult::Nothing;

    buffer.resize(kHeaderSize + rest);
    return checksumMatches(buffer.data(), buffer.size()) ? CycleResult::Packet
                                                         : CycleResult::Nothing;
}

} // namespace tracker
