// tests/tools/gt20sim/SimOptionsTest.cpp: the simulator's command line and the checks across it.
#include "tools/gt20sim/SimOptions.h"

#include <gtest/gtest.h>

#include "tests/tools/common/CommandLineChecks.h"

#include "tools/common/OptionReader.h"

using namespace gt20sim;

constexpr auto parse = &parseSimOptions;

TEST(SimOptionsTest, DefaultsAreOneTrackerTenPacketsEveryFiveSeconds)
{
    SimOptionsResult r = parse({});
    ASSERT_EQ("", r.error);
    const SimOptions& o = r.options;
    EXPECT_EQ("127.0.0.1", o.host);
    EXPECT_EQ(21000, o.port);
    EXPECT_EQ(1u, o.trackers);
    EXPECT_EQ(1u, o.records);
    EXPECT_EQ(5.0, o.intervalS);
    EXPECT_EQ(10u, packetsPerTracker(o));
    EXPECT_EQ("356307042440000", o.imeiBase);
    EXPECT_EQ(25, o.firmware);
    EXPECT_EQ((Bytes{16, 17, 18, 19, 20, 21, 26}), o.fields);
    EXPECT_EQ(5000, o.ackTimeoutMs);
    EXPECT_FALSE(o.damage.any());
    EXPECT_FALSE(o.seed.has_value());
}

TEST(SimOptionsTest, ReadsEveryOption)
{
    SimOptionsResult r = parse({"--host",           "10.0.0.7",
                                "--port",           "21777",
                                "--trackers",       "200",
                                "--records",        "3",
                                "--interval",       "0.25",
                                "--duration",       "90",
                                "--imei-base",      "000000000000099",
                                "--firmware",       "7",
                                "--fields",         "17,16,22",
                                "--ack-timeout-ms", "250",
                                "--acked",          "a.txt",
                                "--bad-checksum",   "0.1",
                                "--truncate",       "0.2",
                                "--garbage",        "0.3",
                                "--seed",           "18446744073709551615",
                                "--quiet"});
    ASSERT_EQ("", r.error);
    const SimOptions& o = r.options;
    EXPECT_EQ("10.0.0.7", o.host);
    EXPECT_EQ(21777, o.port);
    EXPECT_EQ(200u, o.trackers);
    EXPECT_EQ(3u, o.records);
    EXPECT_EQ(0.25, o.intervalS);
    EXPECT_EQ(90.0, o.durationS.value_or(0));
    EXPECT_EQ(0u, packetsPerTracker(o)); // a duration: no packet limit
    EXPECT_EQ(7, o.firmware);
    EXPECT_EQ((Bytes{17, 16, 22}), o.fields);
    EXPECT_EQ(250, o.ackTimeoutMs);
    EXPECT_EQ("a.txt", o.ackedPath);
    EXPECT_EQ(0.2, o.damage.truncate);
    EXPECT_EQ(0.3, o.damage.garbage);
    EXPECT_EQ(UINT64_MAX, o.seed.value_or(0));
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ("000000000000099", imeiFor(o.imeiBase, 0));
    EXPECT_EQ("000000000000100", imeiFor(o.imeiBase, 1));

    EXPECT_EQ(4u, packetsPerTracker(parse({"--count", "4"}).options));
    EXPECT_TRUE(parse({"--fields", ""}).options.fields.empty()); // records with no fields
}

TEST(SimOptionsTest, HelpAndVersionHaveShortFormsAndSkipTheCrossChecks)
{
    for (auto args : std::vector<std::vector<std::string>>{{"-h"}, {"--help"}}) {
        SimOptionsResult r = parse(args);
        EXPECT_EQ("", r.error);
        EXPECT_TRUE(r.options.help);
        EXPECT_FALSE(r.options.version);
    }
    for (auto args : std::vector<std::vector<std::string>>{{"-V"}, {"--version"}}) {
        SimOptionsResult r = parse(args);
        EXPECT_EQ("", r.error);
        EXPECT_TRUE(r.options.version);
        EXPECT_EQ(25, r.options.firmware); // no longer the firmware byte
    }
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
    tooltest::expectEachRefused(parse, {{"--host", "gateway.local"},
                                        {"--port", "0"},
                                        {"--port", "65536"},
                                        {"--trackers", "0"},
                                        {"--records", "0"},
                                        {"--records", "256"},
                                        {"--interval", "-1"},
                                        {"--duration", "0"},
                                        {"--count", "0"},
                                        {"--imei-base", "35630704244000"},
                                        {"--imei-base", "35630704244000x"},
                                        {"--firmware", "256"},
                                        {"--fields", "16,15"},
                                        {"--fields", "16,27"},
                                        {"--fields", "16,"},
                                        {"--fields", "16,,17"},
                                        {"--ack-timeout-ms", "0"},
                                        {"--bad-checksum", "1.5"},
                                        {"--garbage", "-0.5"},
                                        {"--seed", "-1"},
                                        {"--acked", ""},
                                        {"--quiet=yes"}});
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
