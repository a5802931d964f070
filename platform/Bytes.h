// platform/Bytes.h: the byte string every binary format of the gateway is held in, and the one
// little-endian reader and writer they all use (tracker packets, link frames, backlog files).
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

using Bytes = std::vector<std::uint8_t>;

// Readers: p points at least at as many bytes as the value has; checking that is the caller's.
constexpr std::uint16_t readU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

constexpr std::uint32_t readU32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::int32_t readI32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(readU32(p));
}

constexpr std::uint64_t readU64(const std::uint8_t* p)
{
    return static_cast<std::uint64_t>(readU32(p)) |
           (static_cast<std::uint64_t>(readU32(p + 4)) << 32);
}

constexpr std::int64_t readI64(const std::uint8_t* p)
{
    return static_cast<std::int64_t>(readU64(p));
}

// Writers in place: p has room for the value.
constexpr void writeU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

constexpr void writeU32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr void writeI32(std::uint8_t* p, std::int32_t v)
{
    writeU32(p, static_cast<std::uint32_t>(v));
}

constexpr void writeU64(std::uint8_t* p, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr void writeI64(std::uint8_t* p, std::int64_t v)
{
    writeU64(p, static_cast<std::uint64_t>(v));
}

// Writers at the end of a byte string.
inline void appendU16(Bytes& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void appendU32(Bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void appendI32(Bytes& out, std::int32_t v)
{
    appendU32(out, static_cast<std::uint32_t>(v));
}

inline void appendI64(Bytes& out, std::int64_t v)
{
    auto u = static_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

} // namespace platform
