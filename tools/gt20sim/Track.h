// tools/gt20sim/Track.h: a plausible drive for one simulated tracker, one fix per second.
#pragma once

#include <cstdint>
#include <random>

#include "tools/gt20sim/FieldTable.h"

namespace gt20sim {

class Track
{
public:
    // The seed picks the start point and every turn; startTime is the time of the first fix.
    Track(std::uint64_t seed, std::uint32_t startTime);

    // The next fix: one second after the previous one, moved by the speed along the course
    // (at most about 31 m), with course, speed and altitude drifting a little.
    Fix next();

    // Limits every fix stays within.
    static constexpr double kMaxSpeedKmh = 110;
    static constexpr int kMinSatellites = 5;
    static constexpr int kMaxSatellites = 14;
    static constexpr int kMinHdop = 6;
    static constexpr int kMaxHdop = 25;

private:
    double uniform(double low, double high);
    void move();

    std::mt19937_64 m_random;
    std::uint32_t m_time;
    double m_latitude;  // degrees
    double m_longitude; // degrees
    double m_course;    // degrees, 0..360
    double m_speed;     // km/h
    double m_altitude;  // metres
};

} // namespace gt20sim
