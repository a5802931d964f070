// tests/tools/gt20sim/TrackTest.cpp: the simulated drive stays plausible.
#include "tools/gt20sim/Track.h"

#include <cmath>

#include <gtest/gtest.h>

using namespace gt20sim;

namespace {

// Metres between two fixes, flat-earth: fine for the few metres of one second.
double metresBetween(const Fix& a, const Fix& b)
{
    double lat = a.latitude / 1e6 * 3.14159265358979 / 180;
    double north = (static_cast<double>(b.latitude) - a.latitude) / 1e6 * 111320;
    double east = (static_cast<double>(b.longitude) - a.longitude) / 1e6 * 111320 * std::cos(lat);
    return std::hypot(north, east);
}

} // namespace

TEST(TrackTest, OneFixPerSecondWithSmallMovesAndPlausibleValues)
{
    for (std::uint64_t seed : {1u, 2u, 99u}) {
        Track track(seed, 1493805094);
        Fix previous = track.next();
        EXPECT_EQ(1493805094u, previous.time);
        double travelled = 0;
        for (int i = 1; i < 2000; ++i) {
            Fix f = track.next();
            ASSERT_EQ(previous.time + 1, f.time);
            double step = metresBetween(previous, f);
            ASSERT_LE(step, Track::kMaxSpeedKmh / 3.6 + 0.5) << "fix " << i;
            // Reported speed and the distance moved agree, within rounding.
            ASSERT_NEAR(previous.speed / 3.6, step, 0.5) << "fix " << i;
            ASSERT_LT(f.course, 360);
            ASSERT_LE(f.speed, Track::kMaxSpeedKmh);
            ASSERT_GE(f.satellites, Track::kMinSatellites);
            ASSERT_LE(f.satellites, Track::kMaxSatellites);
            ASSERT_GE(f.hdop, Track::kMinHdop);
            ASSERT_LE(f.hdop, Track::kMaxHdop);
            ASSERT_LE(std::abs(f.altitude - previous.altitude), 2);
            travelled += step;
            previous = f;
        }
        EXPECT_GT(travelled, 1000.0); // it does go somewhere
        EXPECT_GT(previous.latitude, 30'000'000u);
        EXPECT_LT(previous.latitude, 70'000'000u);
    }
}

TEST(TrackTest, SameSeedSameDriveOtherSeedOtherPlace)
{
    Track a(7, 100), b(7, 100), c(8, 100);
    for (int i = 0; i < 50; ++i) {
        Fix fa = a.next(), fb = b.next();
        ASSERT_EQ(fa.latitude, fb.latitude);
        ASSERT_EQ(fa.longitude, fb.longitude);
        ASSERT_EQ(fa.speed, fb.speed);
    }
    Fix fc = c.next();
    EXPECT_NE(Track(7, 100).next().latitude, fc.latitude);
}
