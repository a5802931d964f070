// tracker/Crc16.cpp: table-driven CRC-16/MODBUS.
#include "tracker/Crc16.h"

#include <array>

#include "tracker/PacketFormat.h"

namespace tracker {

namespace {

constexpr std::array<std::uint16_t, 256> makeTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr auto kTable = makeTable();

} // namespace

std::uint16_t packetChecksum(const std::uint8_t* bytes, std::size_t count)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ bytes[i]) & 0xFF]);
    return crc;
}

bool checksumMatches(const std::uint8_t* packet, std::size_t size)
{
    return packetChecksum(packet, size - kChecksumSize) == readU16(packet + size - kChecksumSize);
}

} // namespace tracker
