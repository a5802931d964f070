// tests/tools/msgserver/ServerOptionsTest.cpp: the test server's command line.
#include "tools/msgserver/ServerOptions.h"

#include <gtest/gtest.h>

#include "tests/tools/common/CommandLineChecks.h"

using namespace msgserver;

constexpr auto parse = &parseServerOptions;

TEST(ServerOptionsTest, DefaultsListenOnLoopbackWithoutEvents)
{
    ServerOptionsResult r = parse({});
    ASSERT_EQ("", r.error);
    EXPECT_EQ("127.0.0.1", r.options.bind);
    EXPECT_EQ(12543, r.options.port);
    EXPECT_EQ(0, r.options.delayMs);
    EXPECT_FALSE(r.options.count.has_value());
    EXPECT_FALSE(r.options.events.noLogin || r.options.events.noConfirm);
    EXPECT_EQ(0u, r.options.events.echoEvery);
    EXPECT_FALSE(r.options.events.closeOrderAfter || r.options.events.disconnectAfter ||
                 r.options.events.dropAfter || r.options.events.badMarkersAfter);
}

TEST(ServerOptionsTest, ReadsEveryOption)
{
    ServerOptionsResult r = parse({"--bind",
                                   "0.0.0.0",
                                   "--port",
                                   "0",
                                   "--no-login",
                                   "--delay",
                                   "250",
                                   "--no-confirm",
                                   "--echo-every",
                                   "4",
                                   "--close-order-after",
                                   "0",
                                   "--disconnect-after",
                                   "5",
                                   "--drop-after=6",
                                   "--bad-markers-after",
                                   "7",
                                   "--count",
                                   "100",
                                   "--port-file",
                                   "port.txt",
                                   "--stamp",
                                   "--quiet"});
    ASSERT_EQ("", r.error);
    const ServerOptions& o = r.options;
    EXPECT_EQ("0.0.0.0", o.bind);
    EXPECT_EQ(0, o.port);
    EXPECT_TRUE(o.events.noLogin);
    EXPECT_EQ(250, o.delayMs);
    EXPECT_TRUE(o.events.noConfirm);
    EXPECT_EQ(4u, o.events.echoEvery);
    EXPECT_EQ(0u, o.events.closeOrderAfter.value_or(99));
    EXPECT_EQ(5u, o.events.disconnectAfter.value_or(99));
    EXPECT_EQ(6u, o.events.dropAfter.value_or(99));
    EXPECT_EQ(7u, o.events.badMarkersAfter.value_or(99));
    EXPECT_EQ(100u, o.count.value_or(0));
    EXPECT_EQ("port.txt", o.portFile);
    EXPECT_TRUE(o.quiet);
    EXPECT_TRUE(o.stamp);
    EXPECT_FALSE(parse({}).options.stamp);
}

TEST(ServerOptionsTest, HelpAndVersionInBothForms)
{
    EXPECT_TRUE(parse({"-h"}).options.help);
    EXPECT_TRUE(parse({"--help"}).options.help);
    EXPECT_TRUE(parse({"-V"}).options.version);
    EXPECT_TRUE(parse({"--version"}).options.version);
    EXPECT_FALSE(parse({"--help"}).options.version);
    tooltest::expectUsageShows(serverUsage(),
                               {"--stamp", "-h, --help", "-V, --version", "first number N"});
}

TEST(ServerOptionsTest, RefusesWhatItCannotServe)
{
    tooltest::expectEachRefused(parse, {{"--bind", "192.168.1.9"},
                                        {"--bind", "localhost"},
                                        {"--port", "65536"},
                                        {"--delay", "-5"},
                                        {"--echo-every", "0"},
                                        {"--count", "0"},
                                        {"--drop-after", "x"},
                                        {"--port-file", ""},
                                        {"--no-login=1"},
                                        {"--verbose"},
                                        {"-v"},
                                        {"--stamp=1"},
                                        {"12543"}});
}
