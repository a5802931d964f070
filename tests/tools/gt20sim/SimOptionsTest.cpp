// tests/tools/gt20sim/SimOptionsTest.cpp: the simulator's command line and the checks across it.
#include "tools/gt20sim/SimOptions.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/tools/common/CommandLineChecks.h"

#include "tools/common/OptionReader.h"

using namespace gt20sim;

constexpr auto parse = &parseSimOptions;

// Every option on one line, so that a row can say all a command line must come to.
std::string summary(const SimOptions& o)
{
    std::ostringstream out;
    out << o.host << ":" << o.port << " trackers " << o.trackers << " records " << o.records
        << " every " << o.intervalS << " s for ";
    if (o.durationS)
        out << *o.durationS << " s";
    else
        out << packetsPerTracker(o) << " packets";
    out << " imei " << imeiFor(o.imeiBase, 0) << "," << imeiFor(o.imeiBase, 1) << " firmware "
        << int(o.firmware) << " fields";
    for (std::uint8_t f : o.fields)
        out << " " << int(f);
    out << " ack " << o.ackTimeoutMs << " ms log '" << o.ackedPath << "' damage "
        << o.damage.badChecksum << "/" << o.damage.truncate << "/" << o.damage.garbage << " seed "
        << (o.seed ? std::to_string(*o.seed) : "time") << (o.quiet ? " quiet" : "");
    return out.str();
}

TEST(SimOptionsTest, ReadsEveryOptionAndDefaultsTheRest)
{
    const std::pair<const char*, const char*> rows[] = {
        {"", "127.0.0.1:21000 trackers 1 records 1 every 5 s for 10 packets imei "
             "356307042440000,356307042440001 firmware 25 fields 16 17 18 19 20 21 26 ack 5000 ms "
             "log '' damage 0/0/0 seed time"},
        {"--host 10.0.0.7 --port 21777 --trackers 200 --records 3 --interval 0.25 --duration 90 "
         "--imei-base 000000000000099 --firmware 7 --fields 17,16,22 --ack-timeout-ms 250 "
         "--acked a.txt --bad-checksum 0.1 --truncate 0.2 --garbage 0.3 "
         "--seed 18446744073709551615 --quiet",
         "10.0.0.7:21777 trackers 200 records 3 every 0.25 s for 90 s imei "
         "000000000000099,000000000000100 firmware 7 fields 17 16 22 ack 250 ms log 'a.txt' "
         "damage 0.1/0.2/0.3 seed 18446744073709551615 quiet"},
        {"--count 4 --fields ", // records with no fields
         "127.0.0.1:21000 trackers 1 records 1 every 5 s for 4 packets imei "
         "356307042440000,356307042440001 firmware 25 fields ack 5000 ms log '' damage 0/0/0 "
         "seed time"},
    };
    for (const auto& [line, expected] : rows) {
        SimOptionsResult r = parse(tooltest::words(line));
        ASSERT_EQ("", r.error) << line;
        EXPECT_EQ(expected, summary(r.options));
    }
    // A duration: no packet limit.
    EXPECT_EQ(0u, packetsPerTracker(parse(tooltest::words(rows[1].first)).options));
}

TEST(SimOptionsTest, HelpAndVersionHaveShortFormsAndSkipTheCrossChecks)
{
    tooltest::expectHelpAndVersionInBothForms(parse);
    EXPECT_EQ(25, parse({"-V"}).options.firmware); // no longer the firmware byte
    EXPECT_EQ(25, parse({"--version"}).options.firmware);
    // Asking for help or the version is answered even when the other options do not fit.
    EXPECT_EQ("", parse({"--duration", "5", "--count", "3", "-V"}).error);
    // But each value is still read as it comes.
    EXPECT_NE("", parse({"--help", "--port", "x1"}).error);
    EXPECT_EQ("--version takes no value", parse({"--version=7"}).error);
    EXPECT_EQ("unknown option -v", parse({"-v"}).error);
    EXPECT_EQ("gt20sim " GPSBRIDGE_FILE_VERSION "\n", tools::versionText("gt20sim"));
    tooltest::expectUsageShows(simUsage(), {"--firmware V", "-h, --help", "-V, --version"});
}

TEST(SimOptionsTest, RefusesValuesOutOfRange)
{
    tooltest::expectEachRefused(
        parse, {"--host gateway.local", "--port 0", "--port 65536", "--trackers 0", "--records 0",
                "--records 256", "--interval -1", "--duration 0", "--count 0", "--ack-timeout-ms 0",
                "--seed -1", "--acked ", "--quiet=yes"});
    tooltest::expectEachRefused(parse, {"--imei-base 35630704244000", "--imei-base 35630704244000x",
                                        "--firmware 256", "--fields 16,15", "--fields 16,27",
                                        "--fields 16,", "--fields 16,,17", "--bad-checksum 1.5",
                                        "--garbage -0.5"});
}

TEST(SimOptionsTest, ChecksOptionsThatMustFitTogether)
{
    EXPECT_EQ("--duration and --count exclude each other",
              parse({"--duration", "5", "--count", "3"}).error);

    // Twenty-byte records: 51 fit in the 1023-byte body beside the record count, 52 do not.
    EXPECT_EQ("", parse({"--records", "51"}).error);
    EXPECT_EQ("--records: at most 51 records of 20 bytes fit in one packet",
              parse({"--records", "52"}).error);
    EXPECT_EQ("", parse({"--records", "255", "--fields", "20"}).error);

    EXPECT_EQ("", parse({"--imei-base", "999999999999998", "--trackers", "2"}).error);
    EXPECT_NE("", parse({"--imei-base", "999999999999998", "--trackers", "3"}).error);

    EXPECT_EQ("", parse({"--bad-checksum", "0.5", "--truncate", "0.3", "--garbage", "0.2"}).error);
    EXPECT_NE("", parse({"--bad-checksum", "0.5", "--truncate", "0.3", "--garbage", "0.3"}).error);
}
