// tools/gt20sim/FieldTable.cpp
#include "tools/gt20sim/FieldTable.h"

#include "tracker/PositionMessage.h"

namespace gt20sim {

namespace {

void appendLittleEndian(Bytes& out, std::uint32_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

std::optional<std::size_t> fieldWidth(std::uint8_t id)
{
    // The gateway's own table: the simulator lays records out exactly as they are decoded.
    std::size_t width = tracker::fieldWidth(id);
    return width ? std::optional<std::size_t>(width) : std::nullopt;
}

std::size_t recordWidth(const Bytes& fields)
{
    std::size_t width = 0;
    for (std::uint8_t id : fields)
        width += fieldWidth(id).value_or(0);
    return width;
}

void appendRecord(Bytes& out, const Bytes& fields, const Fix& fix)
{
    for (std::uint8_t id : fields) {
        switch (id) {
        case kFieldPosition:
            appendLittleEndian(out, fix.latitude, 4);
            appendLittleEndian(out, fix.longitude, 4);
            break;
        case kFieldTime:
            appendLittleEndian(out, fix.time, 4);
            break;
        case kFieldAltitude:
            appendLittleEndian(out, fix.altitude, 2);
            break;
        case kFieldCourse:
            appendLittleEndian(out, fix.course, 2);
            break;
        case kFieldHdop:
            out.push_back(fix.hdop);
            break;
        case kFieldSatellites:
            out.push_back(fix.satellites);
            break;
        case kFieldSpeed:
            appendLittleEndian(out, fix.speed, 2);
            break;
        default:
            appendLittleEndian(out, 0, fieldWidth(id).value_or(0));
        }
    }
}

} // namespace gt20sim
