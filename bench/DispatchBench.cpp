// bench/DispatchBench.cpp: the dispatcher's work per record: position message text alone, and
// the whole tick with its day-log line.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "platform/DayLog.h"
#include "tests/fakes/Packets.h"
#include "tools/gt20sim/TrackerPackets.h"
#include "tracker/Dispatcher.h"
#include "tracker/PositionMessage.h"

using namespace tracker;

namespace {

const std::string kImei = "356307042441013";

Bytes identification()
{
    return gt20sim::identificationPacket(kImei, 25, gt20sim::kDefaultFields);
}

// The worked record, records times over.
Bytes dataPacket(unsigned records)
{
    return gt20sim::dataPacket(gt20sim::kDefaultFields,
                               std::vector<gt20sim::Fix>(records, fakes::workedFix()));
}

// A hand-over record: the IMEI field, then the packet.
Bytes record(const Bytes& p)
{
    tracker::ImeiField field = fakes::imeiFieldOf(kImei);
    Bytes r(field.size() + p.size());
    std::copy(field.begin(), field.end(), r.begin());
    std::copy(p.begin(), p.end(), r.begin() + static_cast<std::ptrdiff_t>(field.size()));
    return r;
}

struct CountingSink final : PositionSink
{
    bool storeMessage(const std::string& text) override
    {
        bytes += text.size();
        return true;
    }
    std::size_t bytes = 0;
};

void BM_PositionMessageText(benchmark::State& state)
{
    TrackerRow row;
    row.imei[0] = 15;
    std::copy(kImei.begin(), kImei.end(), row.imei.begin() + 1);
    row.fieldCount = static_cast<std::uint8_t>(gt20sim::kDefaultFields.size());
    std::copy(gt20sim::kDefaultFields.begin(), gt20sim::kDefaultFields.end(), row.fields.begin());
    Bytes p = dataPacket(1);
    std::size_t bytes = 0;
    for (auto _ : state)
        decodeDataPacket(row, p.data(), p.size(), [&](const std::string& m) { bytes += m.size(); });
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_PositionMessageText);

// One data packet of range(0) records per iteration, through queue, hex line and messages.
void BM_DispatchWithDayLog(benchmark::State& state)
{
    auto dir = std::filesystem::temp_directory_path() / "gpsbridge-dispatch-bench";
    std::filesystem::create_directories(dir);
    platform::DayLog dayLog(dir.string());
    HandoverQueue queue;
    CountingSink sink;
    Dispatcher dispatcher(queue, dayLog, sink, platform::steadyClock());
    Bytes id = record(identification());
    queue.pushPacket(id.data(), id.size(), 1);
    dispatcher.tick();
    Bytes data = record(dataPacket(static_cast<unsigned>(state.range(0))));
    for (auto _ : state) {
        queue.pushPacket(data.data(), data.size(), 1);
        dispatcher.tick();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.counters["packets_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DispatchWithDayLog)->Arg(1)->Arg(10);

} // namespace
