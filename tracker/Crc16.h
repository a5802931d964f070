// tracker/Crc16.h: the packet checksum, CRC-16/MODBUS.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tracker {

// CRC-16/MODBUS (reflected 0x8005, initial 0xFFFF, no final XOR) over count bytes.
std::uint16_t packetChecksum(const std::uint8_t* bytes, std::size_t count);

// True when the last two bytes of the packet (low byte first) equal the checksum of the rest.
// size must be at least 4 (header and checksum).
bool checksumMatches(const std::uint8_t* packet, std::size_t size);

} // namespace tracker
