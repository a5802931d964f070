// tools/gt20sim/FieldTable.cpp
#include "tools/gt20sim/FieldTable.h"

#include "tracker/PositionMessage.h"

namespace gt20sim {

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
            platform::appendU32(out, fix.latitude);
            platform::appendU32(out, fix.longitude);
            break;
        case kFieldTime:
            platform::appendU32(out, fix.time);
            break;
        case kFieldAltitude:
            platform::appendU16(out, fix.altitude);
            break;
        case kFieldCourse:
            platform::appendU16(out, fix.course);
            break;
        case kFieldHdop:
            out.push_back(fix.hdop);
            break;
        case kFieldSatellites:
            out.push_back(fix.satellites);
            break;
        case kFieldSpeed:
            platform::appendU16(out, fix.speed);
            break;
        default:
            out.insert(out.end(), fieldWidth(id).value_or(0), std::uint8_t{0});
        }
    }
}

} // namespace gt20sim
