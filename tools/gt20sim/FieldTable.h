// tools/gt20sim/FieldTable.h: the record fields a simulated tracker can carry, and their bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/Bytes.h"

namespace gt20sim {

using platform::Bytes;

// One position fix in the raw units of the record fields.
struct Fix
{
    std::uint32_t latitude = 0;  // millionths of a degree
    std::uint32_t longitude = 0; // millionths of a degree
    std::uint32_t time = 0;      // seconds since 1970-01-01 00:00:00
    std::uint16_t altitude = 0;  // metres
    std::uint16_t course = 0;    // degrees, 0..359
    std::uint8_t hdop = 0;       // tenths
    std::uint8_t satellites = 0;
    std::uint16_t speed = 0; // km/h
};

inline constexpr std::uint8_t kFieldPosition = 16;   // latitude, longitude: 8 bytes
inline constexpr std::uint8_t kFieldTime = 17;       // 4
inline constexpr std::uint8_t kFieldAltitude = 18;   // 2
inline constexpr std::uint8_t kFieldCourse = 19;     // 2
inline constexpr std::uint8_t kFieldHdop = 20;       // 1
inline constexpr std::uint8_t kFieldSatellites = 21; // 1
inline constexpr std::uint8_t kFieldSpeed = 26;      // 2

// The field list trackers come with: position, time, altitude, course, hdop, satellites, speed.
inline const Bytes kDefaultFields = {16, 17, 18, 19, 20, 21, 26};

// The width of a field, or nothing for an id the records cannot carry (below 16, above 26).
// Ids 22..25 have widths but no content the gateway reads; they are sent as zeros.
std::optional<std::size_t> fieldWidth(std::uint8_t id);

// The bytes of one record with these fields. Every id must have a width.
std::size_t recordWidth(const Bytes& fields);

// Appends one record: the fields in list order, little-endian, each with its width.
void appendRecord(Bytes& out, const Bytes& fields, const Fix& fix);

} // namespace gt20sim
