// bench/LoadReport.h: the load benchmark's rows, the goals that compare one gateway with another,
// and the tables they are printed in.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "bench/LoadLedger.h"

namespace loadbench {

// One scenario run against one gateway.
struct Row
{
    std::string scenario;
    std::string gateway; // GatewayUnderTest::label
    std::size_t trackers = 0;
    Tally tally;
    double ratePerS = 0; // delivered messages per second as the scenario defines it
    double ceilingPerS = 0;
    std::optional<double> ackP50Ms, ackP99Ms; // send to acknowledgement, as the trackers saw it
    std::optional<double> cpuUsPerMessage;    // the gateway's CPU time per delivered message
    std::vector<std::string> failures;
    std::vector<std::string> notes;
};

// The outage scenario against one gateway: its resident memory as the stored records grow.
struct MemoryRow
{
    std::string gateway;
    std::size_t trackers = 0;
    std::size_t stored = 0; // records acknowledged
    // Resident MB when 0, 1/4, 1/2, 3/4 and all of the planned records were stored; nothing for
    // a mark never reached.
    std::vector<std::optional<double>> residentMb;
    double storedPerS = 0;
    std::optional<double> ackP50Ms, ackP99Ms;
    std::optional<double> cpuUsPerRecord;
    std::vector<std::string> failures;
    std::vector<std::string> notes;
};

// "1.2" with the given decimals, or "-" for nothing.
std::string figure(std::optional<double> v, int decimals = 1);

// The flat-out goals that set the new gateway against the others of the same run: its delivered
// rate at least baselineShare of the baseline's and standInShare of the stand-in's. Every row with
// a baseline row beside it gets its ratio as a note; only flat-out is judged.
void compareRows(std::vector<Row>& rows, double baselineShare, double standInShare);

void printHeader();
void printRow(const Row& r);
void printMemoryHeader(const std::vector<std::size_t>& marks);
void printMemoryRow(const MemoryRow& r);

} // namespace loadbench
