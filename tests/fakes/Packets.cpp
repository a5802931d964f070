// tests/fakes/Packets.cpp
#include "tests/fakes/Packets.h"

#include <stdexcept>

#include "tracker/Crc16.h"

namespace fakes {

Bytes fromHex(std::string_view hex)
{
    Bytes out;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c == ' ')
            continue;
        else
            throw std::invalid_argument("bad hex");
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

std::string toHex(const Bytes& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (auto b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

tracker::ImeiField imeiFieldOf(const std::string& digits)
{
    tracker::ImeiField field{};
    field[0] = static_cast<std::uint8_t>(digits.size());
    std::copy(digits.begin(), digits.end(), field.begin() + 1);
    return field;
}

Bytes makePacket(unsigned type, const Bytes& body, unsigned spareBits)
{
    auto header = static_cast<std::uint16_t>((type << 13) | (spareBits << 10) | body.size());
    Bytes p(2 + body.size());
    p[0] = static_cast<std::uint8_t>(header);
    p[1] = static_cast<std::uint8_t>(header >> 8);
    std::copy(body.begin(), body.end(), p.begin() + 2);
    std::uint16_t crc = tracker::packetChecksum(p.data(), p.size());
    p.push_back(static_cast<std::uint8_t>(crc));
    p.push_back(static_cast<std::uint8_t>(crc >> 8));
    return p;
}

Bytes makeIdentification(const std::string& imei, std::uint8_t version, const Bytes& fields)
{
    // Body offsets are packet offsets minus the 2-byte header.
    Bytes body(36, 0);
    body[1] = version;
    for (std::size_t i = 0; i < 15 && i < imei.size(); ++i)
        body[3 + i] = static_cast<std::uint8_t>(imei[i]);
    body[25] = static_cast<std::uint8_t>(fields.size());
    if (26 + fields.size() > body.size())
        body.resize(26 + fields.size());
    std::copy(fields.begin(), fields.end(), body.begin() + 26);
    return makePacket(1, body, 1); // header bytes 24 24, as the trackers send it
}

std::tm workedTime()
{
    std::tm t{};
    t.tm_year = 117;
    t.tm_mon = 4;
    t.tm_mday = 3;
    t.tm_hour = 9;
    t.tm_min = 51;
    t.tm_sec = 34;
    return t;
}

Bytes workedDataPacket()
{
    return fromHex("15 44 01 68 44 0D 03 EC DE 0F 03 26 A8 09 59 27 00 C2 02 08 0E 0C 00 34 00");
}

} // namespace fakes
