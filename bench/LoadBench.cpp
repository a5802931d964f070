// bench/LoadBench.cpp: load_bench, the whole gateway under load. The real gpsbridge (headless, in
// a scratch directory of its own), gt20sim's trackers and msgserver, each its own process on
// loopback; every record the trackers saw acknowledged is looked for among the messages the
// server received. One table row per scenario and gateway, with the plain request/reply ceiling
// measured in the same run; another gateway binary (--baseline) and the epoll stand-in run the
// same scenarios for comparison.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/LoadScenarios.h"
#include "platform/Socket.h"
#include "tools/common/OptionReader.h"

using namespace loadbench;

namespace {

// The flat-out goals against the other gateways of the run.
constexpr double kBaselineShare = 0.9;
constexpr double kStandInShare = 0.7;

struct BenchOptions
{
    ScenarioOptions scenario;
    double ceilingS = 2;      // length of the ceiling measurement
    std::string only = "all"; // or one scenario's name
    std::string baseline;     // another gpsbridge binary; empty: none
    bool help = false;
    bool version = false;
};

const char* const kScenarioNames = "all, flat-out, paced, drain, reconnect or outage-rss";

bool knownScenario(const std::string& name)
{
    for (const char* s : {"all", "flat-out", "paced", "drain", "reconnect", "outage-rss"})
        if (name == s)
            return true;
    return false;
}

std::vector<tools::OptionDef<BenchOptions>> benchDefinitions()
{
    std::vector<tools::OptionDef<BenchOptions>> defs = {
        {"limit", false,
         [](BenchOptions& o, const std::string& v) {
             return tools::readDecimal("limit", v, 1, 3600, &o.scenario.limitS);
         }},
        {"ceiling-seconds", false,
         [](BenchOptions& o, const std::string& v) {
             return tools::readDecimal("ceiling-seconds", v, 0.1, 60, &o.ceilingS);
         }},
        {"scenario", false,
         [](BenchOptions& o, const std::string& v) {
             o.only = v;
             return knownScenario(v) ? "" : std::string("--scenario: ") + kScenarioNames;
         }},
        {"baseline", false,
         [](BenchOptions& o, const std::string& v) {
             // Absolute: the gateways run in scratch directories of their own.
             std::error_code ec;
             o.baseline = std::filesystem::absolute(v, ec).string();
             return ::access(v.c_str(), X_OK) == 0 ? "" : "--baseline: no program at " + v;
         }},
        {"keep", true,
         [](BenchOptions& o, const std::string&) {
             o.scenario.keep = true;
             return "";
         }},
    };
    for (auto& d : tools::standardDefinitions<BenchOptions>())
        defs.push_back(std::move(d));
    return defs;
}

const char kUsage[] = R"(usage: load_bench [options]

The whole gateway under load: gpsbridge --headless, gt20sim and msgserver on loopback, in
scratch directories under the system's temporary directory. Prints one table row per
scenario and gateway: acknowledged and delivered records, delivered messages per second,
records never delivered, records delivered twice, latency from acknowledgement to delivery,
the trackers' latency from sending to acknowledgement, the gateway's CPU time per delivered
message, and the plain request/reply ceiling of the same data frames measured just before
each scenario (the best of five slices), with the verdict. flat-out also runs the epoll
stand-in (standin_gateway). outage-rss prints a table of its own: the gateway's resident
memory while a million records are stored with the server away.

  --scenario NAME         all (default), flat-out, paced, drain, reconnect or outage-rss
  --baseline PATH         also run every scenario against this gpsbridge (an older build)
                          and compare
  --limit SEC             wait for deliveries after the load ends (default 120)
  --ceiling-seconds SEC   length of the ceiling measurement (default 2)
  --keep                  keep the scratch directories and say where they are
  -h, --help              show this text
  -V, --version           show the program's version
)";

// The gateways a scenario runs against, in the order they run and are printed.
std::vector<GatewayUnderTest> gatewaysFor(const std::string& scenario, const BenchOptions& o)
{
    std::vector<GatewayUnderTest> all{{"new", GPSBRIDGE_BINARY, false}};
    if (!o.baseline.empty())
        all.push_back({"baseline", o.baseline, false});
    if (scenario == "flat-out")
        all.push_back({"stand-in", STANDIN_BINARY, true});
    return all;
}

// The outage table; true when the new gateway passed.
bool runOutage(const BenchOptions& o)
{
    printMemoryHeader(outageMarks());
    bool passed = true;
    for (const GatewayUnderTest& g : gatewaysFor("outage-rss", o)) {
        MemoryRow r = outageMemory(o.scenario, g);
        printMemoryRow(r);
        passed = passed && (g.label != "new" || r.failures.empty());
    }
    return passed;
}

} // namespace

int main(int argc, char** argv)
{
    BenchOptions o;
    std::string error =
        tools::readOptions(benchDefinitions(), std::vector<std::string>(argv + 1, argv + argc), o);
    if (auto status = tools::answerCommandLine("load_bench", error, o.help, o.version, kUsage))
        return *status;
    // Thousands of tracker connections on both sides of loopback; children inherit the limit.
    platform::raiseOpenFileLimit();

    struct Scenario
    {
        const char* name;
        Row (*run)(const ScenarioOptions&, const GatewayUnderTest&, double);
    };
    const Scenario scenarios[] = {
        {"flat-out", flatOut}, {"paced", paced}, {"drain", drain}, {"reconnect", reconnect}};
    bool allPassed = true;
    if (o.only != "outage-rss") {
        printHeader();
        for (const Scenario& s : scenarios) {
            if (o.only != "all" && o.only != s.name)
                continue;
            const double ceiling = measureCeiling(o.ceilingS, o.scenario.keep);
            std::vector<Row> rows;
            for (const GatewayUnderTest& g : gatewaysFor(s.name, o))
                rows.push_back(s.run(o.scenario, g, ceiling));
            compareRows(rows, kBaselineShare, kStandInShare);
            for (const Row& r : rows) {
                printRow(r);
                // Only the gateway being built decides the exit status.
                allPassed = allPassed && (r.gateway != "new" || r.failures.empty());
            }
        }
    }
    if (o.only == "all" || o.only == "outage-rss")
        allPassed = runOutage(o) && allPassed;
    return allPassed ? 0 : 1;
}
