// tracker/PositionMessage.h: turning the records of a data packet into JSON position messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tracker/TrackerTable.h"

namespace tracker {

// Field ids of the tracker's field list.
inline constexpr std::uint8_t kFieldPosition = 16; // lat, lon: 2 x u32 millionths of a degree
inline constexpr std::uint8_t kFieldTime = 17;     // u32 seconds since 1970
inline constexpr std::uint8_t kFieldAltitude = 18;
inline constexpr std::uint8_t kFieldCourse = 19;
inline constexpr std::uint8_t kFieldHdop = 20;
inline constexpr std::uint8_t kFieldSatellites = 21;
inline constexpr std::uint8_t kFieldSpeed = 26;
// An id the field table does not know: decoding stops at it.
inline constexpr std::uint8_t kNoSuchField = 0;

// Width in bytes of a field, or 0 for an id whose width is not known.
std::size_t fieldWidth(std::uint8_t id);

// Decodes the K records of a data packet (whole packet, checksum included) with the row's field
// list and hands one message per record to emit, in record order. Decoding stops at an unknown
// field id or at a field that would run into the checksum; that record and the later ones are
// not sent. Returns the number of messages sent.
template <typename Emit>
std::size_t decodeDataPacket(const TrackerRow& row, const std::uint8_t* packet, std::size_t size,
                             Emit&& emit);

// One record from offset on: appends its JSON text to out (which the caller has cleared) and
// returns the offset after it, or 0 when decoding must stop.
std::size_t buildPositionMessage(const TrackerRow& row, const std::uint8_t* packet,
                                 std::size_t recordsEnd, std::size_t offset, std::string& out);

// Appends s as the inside of a JSON string: quote, backslash and control characters escaped.
void appendJsonEscaped(std::string& out, const std::uint8_t* s, std::size_t count);

template <typename Emit>
std::size_t decodeDataPacket(const TrackerRow& row, const std::uint8_t* packet, std::size_t size,
                             Emit&& emit)
{
    constexpr std::size_t kFirstRecord = 3;
    if (size < kFirstRecord + 2)
        return 0;
    const std::size_t recordsEnd = size - 2;
    const unsigned count = packet[2];
    std::size_t offset = kFirstRecord, sent = 0;
    std::string message;
    for (unsigned i = 0; i < count; ++i) {
        message.clear();
        offset = buildPositionMessage(row, packet, recordsEnd, offset, message);
        if (offset == 0)
            break;
        emit(message);
        ++sent;
    }
    return sent;
}

} // namespace tracker
