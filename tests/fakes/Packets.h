// tests/fakes/Packets.h: building tracker packets and reading hex in tests. The packets come from
// the simulator's builder (tools/gt20sim/TrackerPackets.h), so tests and simulator send the same.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "tools/gt20sim/FieldTable.h"
#include "tracker/PacketFormat.h"

namespace fakes {

using platform::Bytes;

// "04 04 00 01" or "04040001" -> bytes.
Bytes fromHex(std::string_view hex);
std::string toHex(const Bytes& bytes); // uppercase, no blanks

// The IMEI field of these characters: length byte, then the characters.
tracker::ImeiField imeiFieldOf(const std::string& digits);

// Header word from type and body length (bits 10-12 as given), then body, then the checksum.
Bytes makePacket(unsigned type, const Bytes& body, unsigned spareBits = 0);

// An identification packet: version, IMEI (15 characters) and field list, then three spare
// bytes; 40 bytes for the seven default fields.
Bytes makeIdentification(const std::string& imei, std::uint8_t version = 25,
                         const Bytes& fields = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x1A});

// The worked record: position, time, alt, course, hdop, sat, speed.
gt20sim::Fix workedFix();

// The worked data packet: the worked record alone, with header bits 10-12 as the trackers send.
Bytes workedDataPacket();

// The worked tracker and the message its data packet becomes.
inline const std::string kWorkedImei = "356307042441013";
inline const std::string kWorkedJson =
    R"({"$c$":"gps","type":"gt20v5","imei":"356307042441013","lat":51.201128,"lon":51.371756,)"
    R"("time":"03.05.2017 9:51:34","alt":39,"course":706,"hdop":8,"sat":14,"speed":12})";

// 3 May 2017 9:51:34, the worked record's time, as a local time for pinned clocks.
std::tm workedTime();

} // namespace fakes
