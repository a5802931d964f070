// tests/fakes/Packets.cpp
#include "tests/fakes/Packets.h"

#include <stdexcept>

#include "platform/Formats.h"
#include "tools/gt20sim/TrackerPackets.h"

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
    return gt20sim::makePacket(type, body, spareBits);
}

Bytes makeIdentification(const std::string& imei, std::uint8_t version, const Bytes& fields)
{
    return gt20sim::identificationPacket(imei, version, fields);
}

gt20sim::Fix workedFix()
{
    // Latitude, longitude, time, altitude, course, hdop, satellites, speed.
    return {51201128, 51371756, 1493805094, 39, 706, 8, 14, 12};
}

std::tm workedTime()
{
    return platform::calendarFromEpoch(workedFix().time);
}

Bytes workedDataPacket()
{
    return gt20sim::dataPacket(gt20sim::kDefaultFields, {workedFix()});
}

} // namespace fakes
