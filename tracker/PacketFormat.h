// tracker/PacketFormat.h: the tracker packet layout and the acknowledgement.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Bytes.h"

namespace tracker {

using platform::Bytes;
using platform::readU16;
using platform::readU32;

// Frame: header word (2), body (L), checksum (2); all little-endian.
inline constexpr std::size_t kHeaderSize = 2;
inline constexpr std::size_t kChecksumSize = 2;
inline constexpr std::size_t kMaxBodyLength = 0x3FF;
inline constexpr std::size_t kMaxPacketSize = kHeaderSize + kMaxBodyLength + kChecksumSize; // 1027

inline constexpr unsigned kIdentificationPacket = 1;
inline constexpr unsigned kDataPacket = 2;

// Identification packet: the IMEI is bytes 5..19.
inline constexpr std::size_t kImeiOffset = 5;
inline constexpr std::size_t kImeiLength = 15;

// IMEI field: a length byte (0 = not identified yet, or 15) and 15 characters.
inline constexpr std::size_t kImeiFieldSize = 1 + kImeiLength;
using ImeiField = std::array<std::uint8_t, kImeiFieldSize>;

inline constexpr std::size_t kAckSize = 3;
using Acknowledgement = std::array<std::uint8_t, kAckSize>;

// Bits 0-9 of the header word; bits 10-12 carry nothing the gateway uses.
inline constexpr std::size_t bodyLength(std::uint16_t header)
{
    return header & 0x3FF;
}

// Bits 13-15 of the header word.
inline constexpr unsigned packetType(std::uint16_t header)
{
    return header >> 13;
}

// 0x01 and the packet's own checksum bytes in the order received. packet holds size >= 4 bytes.
inline Acknowledgement buildAcknowledgement(const std::uint8_t* packet, std::size_t size)
{
    return {0x01, packet[size - 2], packet[size - 1]};
}

} // namespace tracker
