// tools/gt20sim/SimOptions.cpp
#include "tools/gt20sim/SimOptions.h"

#include <charconv>

#include "platform/Socket.h"
#include "tools/common/OptionReader.h"
#include "tools/gt20sim/TrackerPackets.h"

namespace gt20sim {

namespace {

constexpr std::uint64_t kLargestImei = 999'999'999'999'999;

using Def = tools::OptionDef<SimOptions>;

std::string readFields(const std::string& text, Bytes* out)
{
    Bytes fields;
    std::size_t from = 0;
    while (from < text.size()) {
        std::size_t comma = text.find(',', from);
        std::string item = text.substr(from, comma == std::string::npos ? comma : comma - from);
        std::uint64_t id = 0;
        std::string error = tools::readUnsigned("fields", item, 0, 255, &id);
        if (!error.empty() || !fieldWidth(static_cast<std::uint8_t>(id)))
            return "--fields: '" + item + "' is no field id a record can carry (16..26)";
        fields.push_back(static_cast<std::uint8_t>(id));
        if (comma == std::string::npos)
            break;
        from = comma + 1;
        if (from == text.size())
            return "--fields: a field id is missing after the last comma";
    }
    if (fields.size() > 255)
        return "--fields: at most 255 fields";
    *out = fields;
    return {};
}

std::string readImeiBase(const std::string& text, std::string* out)
{
    bool digits = text.size() == 15 && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits)
        return "--imei-base: expected 15 digits, got '" + text + "'";
    *out = text;
    return {};
}

std::string readChance(std::string_view name, const std::string& text, double* out)
{
    return tools::readDecimal(name, text, 0, 1, out);
}

// Where the trackers connect and what they send.
std::vector<Def> trafficDefinitions()
{
    return {
        {"host", false,
         [](SimOptions& o, const std::string& v) {
             o.host = v;
             return platform::isDottedIPv4(v) ? "" : "--host: expected a dotted IPv4 address";
         }},
        {"port", false,
         [](SimOptions& o, const std::string& v) {
             return tools::readInto("port", v, 1, 65535, &o.port);
         }},
        {"trackers", false,
         [](SimOptions& o, const std::string& v) {
             return tools::readInto("trackers", v, 1, kMaxTrackers, &o.trackers);
         }},
        {"records", false,
         [](SimOptions& o, const std::string& v) {
             return tools::readInto("records", v, 1, 255, &o.records);
         }},
        {"interval", false,
         [](SimOptions& o, const std::string& v) {
             return tools::readDecimal("interval", v, 0, 86400, &o.intervalS);
         }},
        {"duration", false,
         [](SimOptions& o, const std::string& v) {
             double d = 0;
             std::string e = tools::readDecimal("duration", v, 0.001, 365.0 * 86400, &d);
             o.durationS = d;
             return e;
         }},
        {"count", false,
         [](SimOptions& o, const std::string& v) {
             std::uint64_t c = 0;
             std::string e = tools::readUnsigned("count", v, 1, 1'000'000'000, &c);
             o.count = c;
             return e;
         }},
    };
}

// Who the trackers are, and the rest.
std::vector<Def> trackerDefinitions()
{
    return {
        {"imei-base", false,
         [](SimOptions& o, const std::string& v) { return readImeiBase(v, &o.imeiBase); }},
        {"firmware", false,
         [](SimOptions& o, const std::string& v) {
             return tools::readInto("firmware", v, 0, 255, &o.firmware);
         }},
        {"fields", false,
         [](SimOptions& o, const std::string& v) { return readFields(v, &o.fields); }},
        {"ack-timeout-ms", false,
         [](SimOptions& o, const std::string& v) {
             return tools::readInto("ack-timeout-ms", v, 1, 600'000, &o.ackTimeoutMs);
         }},
        {"acked", false,
         [](SimOptions& o, const std::string& v) {
             o.ackedPath = v;
             return v.empty() ? "--acked: needs a file name" : "";
         }},
        {"seed", false,
         [](SimOptions& o, const std::string& v) {
             std::uint64_t s = 0;
             std::string e = tools::readUnsigned("seed", v, 0, UINT64_MAX, &s);
             o.seed = s;
             return e;
         }},
        {"quiet", true,
         [](SimOptions& o, const std::string&) {
             o.quiet = true;
             return "";
         }},
    };
}

std::vector<Def> brokenInputDefinitions()
{
    return {
        {"bad-checksum", false,
         [](SimOptions& o, const std::string& v) {
             return readChance("bad-checksum", v, &o.damage.badChecksum);
         }},
        {"truncate", false,
         [](SimOptions& o, const std::string& v) {
             return readChance("truncate", v, &o.damage.truncate);
         }},
        {"garbage", false,
         [](SimOptions& o, const std::string& v) {
             return readChance("garbage", v, &o.damage.garbage);
         }},
    };
}

std::vector<Def> definitions()
{
    std::vector<Def> all = trafficDefinitions();
    for (const auto& group :
         {trackerDefinitions(), brokenInputDefinitions(), tools::standardDefinitions<SimOptions>()})
        all.insert(all.end(), group.begin(), group.end());
    return all;
}

// The checks that need more than one option.
std::string crossCheck(const SimOptions& o)
{
    if (o.durationS && o.count)
        return "--duration and --count exclude each other";
    std::size_t fit = maxRecordsPerPacket(o.fields);
    if (o.records > fit)
        return "--records: at most " + std::to_string(fit) + " records of " +
               std::to_string(recordWidth(o.fields)) + " bytes fit in one packet";
    std::uint64_t base = 0;
    std::from_chars(o.imeiBase.data(), o.imeiBase.data() + o.imeiBase.size(), base);
    if (base + (o.trackers - 1) > kLargestImei)
        return "--imei-base: the IMEIs of all trackers must stay within 15 digits";
    if (o.damage.badChecksum + o.damage.truncate + o.damage.garbage > 1.0 + 1e-9)
        return "--bad-checksum, --truncate and --garbage add up to more than 1";
    return {};
}

} // namespace

SimOptionsResult parseSimOptions(const std::vector<std::string>& args)
{
    SimOptionsResult r;
    r.error = tools::readOptions(definitions(), args, r.options);
    if (r.error.empty() && !r.options.help && !r.options.version)
        r.error = crossCheck(r.options);
    return r;
}

std::string imeiFor(const std::string& base, std::size_t index)
{
    std::uint64_t value = 0;
    std::from_chars(base.data(), base.data() + base.size(), value);
    std::string digits = std::to_string(value + index);
    return std::string(15 - std::min<std::size_t>(15, digits.size()), '0') + digits;
}

std::uint64_t packetsPerTracker(const SimOptions& options)
{
    if (options.count)
        return *options.count;
    return options.durationS ? 0 : kDefaultCount;
}

std::string simUsage()
{
    return R"(usage: gt20sim [options]

Simulated GT20v5 trackers, each on its own connection to the gateway: each sends its
identification packet, then a data packet of K records every S seconds along a plausible
track, and checks every acknowledgement. A summary goes to standard output at the end.

  --host A              gateway address, dotted IPv4 (default 127.0.0.1)
  --port P              gateway tracker port (default 21000)
  --trackers N          simulated trackers, each with its own IMEI (default 1)
  --records K           records per data packet, 1..255 as far as they fit (default 1)
  --interval S          seconds between data packets, fractions allowed (default 5)
  --duration SEC        run for this many seconds, or
  --count C             send C data packets per tracker (default 10 when neither is given)
  --imei-base D         IMEI of the first tracker, 15 digits; the next ones count up
                        (default 356307042440000)
  --firmware V          firmware version in the identification packet (default 25)
  --fields LIST         field ids of every record (default 16,17,18,19,20,21,26)
  --ack-timeout-ms MS   wait for each acknowledgement (default 5000)
  --acked FILE          append "<imei> <time> <acked at>" for every acknowledged record:
                        the record's time field in seconds, and when the acknowledgement
                        came in microseconds on the machine's monotonic clock
  --bad-checksum P      chance per data packet of an inverted checksum (no ack expected)
  --truncate P          chance of sending only part of a packet, then reconnecting
  --garbage P           chance of random bytes before a packet, then reconnecting
  --seed N              seed for tracks and broken input (default: the time)
  --quiet               no per-event lines on standard error
  -h, --help            show this text
  -V, --version         show the program's version

Exit status: 0 when every identification and normal data packet was acknowledged,
1 when some were not (or a tracker never got through), 2 on bad options or when no
tracker could connect at all.
)";
}

} // namespace gt20sim
