// tools/gt20sim/main.cpp: gt20sim, simulated trackers for trying a gateway.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "platform/StopSignal.h"
#include "tools/common/OptionReader.h"
#include "tools/gt20sim/AckedLog.h"
#include "tools/gt20sim/Simulation.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    gt20sim::SimOptionsResult parsed = gt20sim::parseSimOptions(args);
    const gt20sim::SimOptions& options = parsed.options;
    if (auto status = tools::answerCommandLine("gt20sim", parsed.error, options.help,
                                               options.version, gt20sim::simUsage()))
        return *status;

    gt20sim::AckedLog acked;
    if (!options.ackedPath.empty() && !acked.open(options.ackedPath)) {
        std::fprintf(stderr, "gt20sim: cannot open %s for appending\n", options.ackedPath.c_str());
        return 2;
    }
    std::uint64_t seed = options.seed.value_or(
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
        std::random_device{}());

    std::mutex chatterMutex;
    gt20sim::TrackerSession::Chatter chatter;
    if (!options.quiet)
        chatter = [&chatterMutex](const std::string& line) {
            std::lock_guard<std::mutex> lock(chatterMutex);
            std::fprintf(stderr, "gt20sim: %s\n", line.c_str());
        };

    platform::installStopSignals();
    platform::raiseOpenFileLimit(); // a connection per tracker
    gt20sim::Totals totals =
        gt20sim::runSimulation(options, seed, &acked, platform::stopSignal(), chatter);
    if (totals.connections == 0)
        std::fprintf(stderr, "gt20sim: no tracker could connect to %s:%u\n", options.host.c_str(),
                     options.port);
    std::fputs(gt20sim::summaryText(totals, options.damage.any()).c_str(), stdout);
    std::fflush(stdout);
    return gt20sim::exitCode(totals);
}
