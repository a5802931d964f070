// tests/tools/msgserver/ServerOptionsTest.cpp: the test server's command line.
#include "tools/msgserver/ServerOptions.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/tools/common/CommandLineChecks.h"

using namespace msgserver;

constexpr auto parse = &parseServerOptions;

namespace {

std::string orNone(const std::optional<std::uint64_t>& n)
{
    return n ? std::to_string(*n) : "none";
}

// Every option on one line, so that a row can say all a command line must come to.
std::string summary(const ServerOptions& o)
{
    std::ostringstream out;
    const ServerEvents& e = o.events;
    out << o.bind << ":" << o.port << " delay " << o.delayMs << " count " << orNone(o.count)
        << (e.noLogin ? " no-login" : "") << (e.noConfirm ? " no-confirm" : "") << " echo "
        << e.echoEvery << " close-order " << orNone(e.closeOrderAfter) << " disconnect "
        << orNone(e.disconnectAfter) << " drop " << orNone(e.dropAfter) << " bad-markers "
        << orNone(e.badMarkersAfter) << " port-file '" << o.portFile << "'"
        << (o.stamp ? " stamp" : "") << (o.quiet ? " quiet" : "");
    return out.str();
}

} // namespace

TEST(ServerOptionsTest, ReadsEveryOptionAndDefaultsToLoopbackWithoutEvents)
{
    const std::pair<const char*, const char*> rows[] = {
        {"", "127.0.0.1:12543 delay 0 count none echo 0 close-order none disconnect none drop none "
             "bad-markers none port-file ''"},
        {"--bind 0.0.0.0 --port 0 --no-login --delay 250 --no-confirm --echo-every 4 "
         "--close-order-after 0 --disconnect-after 5 --drop-after=6 --bad-markers-after 7 "
         "--count 100 --port-file port.txt --stamp --quiet",
         "0.0.0.0:0 delay 250 count 100 no-login no-confirm echo 4 close-order 0 disconnect 5 drop "
         "6 bad-markers 7 port-file 'port.txt' stamp quiet"},
    };
    for (const auto& [line, expected] : rows) {
        ServerOptionsResult r = parse(tooltest::words(line));
        ASSERT_EQ("", r.error) << line;
        EXPECT_EQ(expected, summary(r.options));
    }
}

TEST(ServerOptionsTest, HelpAndVersionInBothForms)
{
    tooltest::expectHelpAndVersionInBothForms(parse);
    tooltest::expectUsageShows(serverUsage(),
                               {"--stamp", "-h, --help", "-V, --version", "first number N"});
}

TEST(ServerOptionsTest, RefusesWhatItCannotServe)
{
    tooltest::expectEachRefused(parse, {"--bind 192.168.1.9", "--bind localhost", "--port 65536",
                                        "--delay -5", "--echo-every 0", "--count 0",
                                        "--drop-after x", "--port-file ", "--no-login=1",
                                        "--verbose", "-v", "--stamp=1", "12543"});
}
