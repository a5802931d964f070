// tools/gt20sim/SimOptions.h: the simulator's command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/gt20sim/FieldTable.h"

namespace gt20sim {

// Chances per data packet of sending it broken on purpose; together at most 1.
struct Damage
{
    double badChecksum = 0; // checksum inverted: the gateway must not acknowledge it
    double truncate = 0;    // only a part sent, then the connection closed
    double garbage = 0;     // random bytes before the packet, then the connection closed

    bool any() const { return badChecksum > 0 || truncate > 0 || garbage > 0; }
};

struct SimOptions
{
    std::string host = "127.0.0.1";
    std::uint16_t port = 21000;
    std::size_t trackers = 1;
    std::size_t records = 1;
    double intervalS = 5;
    std::optional<double> durationS;    // run time; exclusive with count
    std::optional<std::uint64_t> count; // data packets per tracker
    std::string imeiBase = "356307042440000";
    std::uint8_t firmware = 25; // version byte of the identification packet
    Bytes fields = kDefaultFields;
    int ackTimeoutMs = 5000;
    std::string ackedPath; // empty: no file
    Damage damage;
    std::optional<std::uint64_t> seed; // nothing: taken from the time
    bool quiet = false;
    bool help = false;
    bool version = false;
};

inline constexpr std::uint64_t kDefaultCount = 10;
inline constexpr std::size_t kMaxTrackers = 20000;

struct SimOptionsResult
{
    SimOptions options;
    std::string error; // empty when the command line was fine
};

// Reads the command line (without the program name). Also checks that the options fit together:
// duration and count exclusive, the records within one packet, the IMEIs within 15 digits,
// the chances of broken input adding up to at most 1.
SimOptionsResult parseSimOptions(const std::vector<std::string>& args);

std::string simUsage();

// The IMEI of tracker index: the base plus the index, 15 digits. The options checked it fits.
std::string imeiFor(const std::string& base, std::size_t index);

// Data packets each tracker sends: the count, the default when neither count nor duration was
// given, or 0 (no limit) when the run has a duration.
std::uint64_t packetsPerTracker(const SimOptions& options);

} // namespace gt20sim
