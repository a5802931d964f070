// tools/gt20sim/TrackerPackets.h: the packets a simulated tracker sends and the acknowledgement it
// expects back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/gt20sim/FieldTable.h"
#include "tracker/PacketFormat.h"

namespace gt20sim {

// Bits 10-12 of the header word as the trackers send them: bit 10 set.
inline constexpr unsigned kTrackerSpareBits = 1;

// Header word (type, body length, spareBits 0..7 in bits 10-12), body, checksum.
// The body must not exceed tracker::kMaxBodyLength.
Bytes makePacket(unsigned type, const Bytes& body, unsigned spareBits = kTrackerSpareBits);

// Type 1: version at byte 3, the 15 IMEI characters at bytes 5..19, the field count at byte 27 and
// the field list from byte 28, then three spare bytes; 40 bytes for seven fields.
// At most 255 fields.
Bytes identificationPacket(const std::string& imei, std::uint8_t version, const Bytes& fields);

// Type 2: the record count and the records back to back. The caller keeps the body within
// the limit (maxRecordsPerPacket).
Bytes dataPacket(const Bytes& fields, const std::vector<Fix>& fixes);

// How many records with these fields fit in one data packet (at most 255).
std::size_t maxRecordsPerPacket(const Bytes& fields);

// What the gateway answers to a packet with a right checksum: 01 and the packet's checksum bytes.
tracker::Acknowledgement expectedAck(const Bytes& packet);

// Inverts both checksum bytes, so the checksum can no longer match. packet holds >= 4 bytes.
void spoilChecksum(Bytes& packet);

} // namespace gt20sim
