// tools/gt20sim/Track.cpp
#include "tools/gt20sim/Track.h"

#include <algorithm>
#include <cmath>

namespace gt20sim {

namespace {

constexpr double kMetresPerDegree = 111320.0;
constexpr double kPi = 3.14159265358979323846;

std::uint32_t millionths(double degrees)
{
    return static_cast<std::uint32_t>(std::lround(degrees * 1e6));
}

} // namespace

Track::Track(std::uint64_t seed, std::uint32_t startTime) : m_random(seed), m_time(startTime)
{
    // Northern and eastern land, away from the poles: the gateway has no negative coordinates.
    m_latitude = uniform(40, 60);
    m_longitude = uniform(20, 60);
    m_course = uniform(0, 360);
    m_speed = uniform(20, 80);
    m_altitude = uniform(50, 400);
}

double Track::uniform(double low, double high)
{
    return std::uniform_real_distribution<double>(low, high)(m_random);
}

void Track::move()
{
    double metres = m_speed / 3.6; // one second of driving
    double radians = m_course * kPi / 180;
    m_latitude += metres * std::cos(radians) / kMetresPerDegree;
    m_longitude +=
        metres * std::sin(radians) / (kMetresPerDegree * std::cos(m_latitude * kPi / 180));
    m_course = std::fmod(m_course + uniform(-15, 15) + 360, 360);
    m_speed = std::clamp(m_speed + uniform(-4, 4), 0.0, kMaxSpeedKmh);
    m_altitude = std::clamp(m_altitude + uniform(-1.5, 1.5), 0.0, 2000.0);
}

Fix Track::next()
{
    Fix fix;
    fix.latitude = millionths(m_latitude);
    fix.longitude = millionths(m_longitude);
    fix.time = m_time++;
    fix.altitude = static_cast<std::uint16_t>(std::lround(m_altitude));
    fix.course = static_cast<std::uint16_t>(static_cast<int>(m_course) % 360);
    fix.hdop =
        static_cast<std::uint8_t>(std::uniform_int_distribution<int>(kMinHdop, kMaxHdop)(m_random));
    fix.satellites = static_cast<std::uint8_t>(
        std::uniform_int_distribution<int>(kMinSatellites, kMaxSatellites)(m_random));
    fix.speed = static_cast<std::uint16_t>(std::lround(m_speed));
    move();
    return fix;
}

} // namespace gt20sim
