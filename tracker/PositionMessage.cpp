// tracker/PositionMessage.cpp
#include "tracker/PositionMessage.h"

#include <charconv>

#include "platform/Formats.h"

namespace tracker {

namespace {

constexpr std::string_view kBeginning = R"({"$c$":"gps","type":"gt20v5","imei":")";

void appendNumber(std::string& out, std::uint64_t v)
{
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

// v / 1 000 000 with six decimals and a point, whatever the locale: 5 -> 0.000005.
void appendMillionths(std::string& out, std::uint32_t v)
{
    appendNumber(out, v / 1000000);
    char frac[6];
    std::uint32_t f = v % 1000000;
    for (int i = 5; i >= 0; --i) {
        frac[i] = static_cast<char>('0' + f % 10);
        f /= 10;
    }
    out += '.';
    out.append(frac, 6);
}

void appendTime(std::string& out, std::uint32_t seconds)
{
    std::tm t = platform::calendarFromEpoch(seconds);
    out += platform::shortDate(t);
    if (seconds % 86400 != 0) {
        out += ' ';
        out += platform::longTime(t);
    }
}

void appendMember(std::string& out, std::string_view name, std::uint64_t v)
{
    out += ",\"";
    out += name;
    out += "\":";
    appendNumber(out, v);
}

} // namespace

std::size_t fieldWidth(std::uint8_t id)
{
    switch (id) {
    case 16:
        return 8;
    case 17:
    case 22:
    case 24:
    case 25:
        return 4;
    case 18:
    case 19:
    case 23:
    case 26:
        return 2;
    case 20:
    case 21:
        return 1;
    default:
        return 0;
    }
}

void appendJsonEscaped(std::string& out, const std::uint8_t* s, std::size_t count)
{
    static const char* hex = "0123456789abcdef";
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t c = s[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
}

namespace {

// The members of one field at p, in the field table's words.
void appendField(std::string& out, std::uint8_t id, const std::uint8_t* p)
{
    switch (id) {
    case kFieldPosition:
        out += ",\"lat\":";
        appendMillionths(out, readU32(p));
        out += ",\"lon\":";
        appendMillionths(out, readU32(p + 4));
        break;
    case kFieldTime:
        out += ",\"time\":\"";
        appendTime(out, readU32(p));
        out += '"';
        break;
    case kFieldAltitude:
        appendMember(out, "alt", readU16(p));
        break;
    case kFieldCourse:
        appendMember(out, "course", readU16(p));
        break;
    case kFieldHdop:
        appendMember(out, "hdop", p[0]);
        break;
    case kFieldSatellites:
        appendMember(out, "sat", p[0]);
        break;
    case kFieldSpeed:
        appendMember(out, "speed", readU16(p));
        break;
    default:
        break; // known width, no member
    }
}

} // namespace

std::size_t buildPositionMessage(const TrackerRow& row, const std::uint8_t* packet,
                                 std::size_t recordsEnd, std::size_t offset, std::string& out)
{
    out += kBeginning;
    appendJsonEscaped(out, row.imei.data() + 1, kImeiLength);
    out += '"';
    for (unsigned i = 0; i < row.fieldCount; ++i) {
        const std::uint8_t id = row.fields[i];
        const std::size_t width = fieldWidth(id);
        if (width == 0 || offset + width > recordsEnd)
            return 0;
        appendField(out, id, packet + offset);
        offset += width;
    }
    out += '}';
    return offset;
}

} // namespace tracker
