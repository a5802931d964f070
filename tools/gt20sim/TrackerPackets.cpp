// tools/gt20sim/TrackerPackets.cpp
#include "tools/gt20sim/TrackerPackets.h"

#include <algorithm>

#include "tracker/Crc16.h"

namespace gt20sim {

namespace {

// Identification body offsets (packet offsets less the 2-byte header word).
constexpr std::size_t kVersionAt = 1;
constexpr std::size_t kImeiAt = tracker::kImeiOffset - tracker::kHeaderSize;
constexpr std::size_t kFieldCountAt = 25;
constexpr std::size_t kFieldListAt = 26;
constexpr std::size_t kSpareTail = 3;

} // namespace

Bytes makePacket(unsigned type, const Bytes& body, unsigned spareBits)
{
    // Bits 10-12 carry nothing for the gateway; they are still covered by the checksum.
    auto header = static_cast<std::uint16_t>((type << 13) | ((spareBits & 7u) << 10) | body.size());
    Bytes p;
    p.reserve(body.size() + tracker::kHeaderSize + tracker::kChecksumSize);
    platform::appendU16(p, header);
    p.insert(p.end(), body.begin(), body.end());
    std::uint16_t crc = tracker::packetChecksum(p.data(), p.size());
    platform::appendU16(p, crc);
    return p;
}

Bytes identificationPacket(const std::string& imei, std::uint8_t version, const Bytes& fields)
{
    Bytes body(kFieldListAt + fields.size() + kSpareTail, 0);
    body[kVersionAt] = version;
    std::copy_n(imei.begin(), std::min(imei.size(), tracker::kImeiLength), body.begin() + kImeiAt);
    body[kFieldCountAt] = static_cast<std::uint8_t>(fields.size());
    std::copy(fields.begin(), fields.end(), body.begin() + kFieldListAt);
    return makePacket(tracker::kIdentificationPacket, body);
}

Bytes dataPacket(const Bytes& fields, const std::vector<Fix>& fixes)
{
    Bytes body;
    body.reserve(1 + fixes.size() * recordWidth(fields));
    body.push_back(static_cast<std::uint8_t>(fixes.size()));
    for (const Fix& fix : fixes)
        appendRecord(body, fields, fix);
    return makePacket(tracker::kDataPacket, body);
}

std::size_t maxRecordsPerPacket(const Bytes& fields)
{
    std::size_t width = recordWidth(fields);
    if (width == 0)
        return 255;
    return std::min<std::size_t>(255, (tracker::kMaxBodyLength - 1) / width);
}

tracker::Acknowledgement expectedAck(const Bytes& packet)
{
    return tracker::buildAcknowledgement(packet.data(), packet.size());
}

void spoilChecksum(Bytes& packet)
{
    packet[packet.size() - 2] ^= 0xFF;
    packet[packet.size() - 1] ^= 0xFF;
}

} // namespace gt20sim
