// bench/LoadScenarios.h: the load benchmark's scenarios, each run against one gateway in a stage
// of its own, and the request/reply ceiling they are set beside.
#pragma once

#include <cstddef>
#include <vector>

#include "bench/LoadReport.h"
#include "bench/LoadStage.h"

namespace loadbench {

struct ScenarioOptions
{
    double limitS = 120; // wait for deliveries after the load
    bool keep = false;   // keep the scratch directories
};

// Round trips per second of data frames to msgserver, one at a time, each awaiting its reply:
// the best a strict request/reply link can do on this machine now. 0 when the server would not
// start.
double measureCeiling(double seconds, bool keep);

// Each gives its row with the scenario's goals judged. A gateway that will not start or log in
// gives a row that says so.
Row flatOut(const ScenarioOptions& o, const GatewayUnderTest& g, double ceiling);
Row paced(const ScenarioOptions& o, const GatewayUnderTest& g, double ceiling);
Row drain(const ScenarioOptions& o, const GatewayUnderTest& g, double ceiling);
Row reconnect(const ScenarioOptions& o, const GatewayUnderTest& g, double ceiling);

// The server away while the trackers send kOutageRecords records; the gateway's resident memory
// at each of outageMarks() records stored.
inline constexpr std::size_t kOutageRecords = 1'000'000;
std::vector<std::size_t> outageMarks();
MemoryRow outageMemory(const ScenarioOptions& o, const GatewayUnderTest& g);

} // namespace loadbench
