// bench/DispatchBench.cpp: the dispatcher's work per record: position message text alone, and
// the whole tick with its day-log line.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "platform/DayLog.h"
#include "tracker/Crc16.h"
#include "tracker/Dispatcher.h"
#include "tracker/PositionMessage.h"

using namespace tracker;

namespace {

const char kImei[] = "356307042441013";

Bytes packet(unsigned type, const Bytes& body)
{
    auto header = static_cast<std::uint16_t>((type << 13) | body.size());
    Bytes p(2 + body.size() + 2);
    p[0] = static_cast<std::uint8_t>(header);
    p[1] = static_cast<std::uint8_t>(header >> 8);
    std::copy(body.begin(), body.end(), p.begin() + 2);
    std::uint16_t crc = packetChecksum(p.data(), p.size() - 2);
    p[p.size() - 2] = static_cast<std::uint8_t>(crc);
    p[p.size() - 1] = static_cast<std::uint8_t>(crc >> 8);
    return p;
}

// The worked record: position, time, alt, course, hdop, sat, speed.
const Bytes kRecord = {0x68, 0x44, 0x0D, 0x03, 0xEC, 0xDE, 0x0F, 0x03, 0x26, 0xA8,
                       0x09, 0x59, 0x27, 0x00, 0xC2, 0x02, 0x08, 0x0E, 0x0C, 0x00};
const Bytes kFields = {16, 17, 18, 19, 20, 21, 26};

Bytes identification()
{
    Bytes body(26 + kFields.size(), 0);
    body[1] = 25;
    std::copy(kImei, kImei + 15, body.begin() + 3);
    body[25] = static_cast<std::uint8_t>(kFields.size());
    std::copy(kFields.begin(), kFields.end(), body.begin() + 26);
    return packet(1, body);
}

Bytes dataPacket(unsigned records)
{
    Bytes body(1 + records * kRecord.size());
    body[0] = static_cast<std::uint8_t>(records);
    for (unsigned i = 0; i < records; ++i)
        std::copy(kRecord.begin(), kRecord.end(), body.begin() + 1 + i * kRecord.size());
    return packet(2, body);
}

Bytes record(const Bytes& p)
{
    Bytes r(16 + p.size());
    r[0] = 15;
    std::copy(kImei, kImei + 15, r.begin() + 1);
    std::copy(p.begin(), p.end(), r.begin() + 16);
    return r;
}

struct CountingSink final : PositionSink
{
    bool SendText(const std::string& text) override
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
    std::copy(kImei, kImei + 15, row.imei.begin() + 1);
    row.fieldCount = static_cast<std::uint8_t>(kFields.size());
    std::copy(kFields.begin(), kFields.end(), row.fields.begin());
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
    Dispatcher dispatcher(queue, dayLog, sink, platform::steadyClock(), 1'000'000);
    Bytes id = record(identification());
    queue.PutPacket(id.data(), id.size(), 1);
    dispatcher.tick();
    Bytes data = record(dataPacket(static_cast<unsigned>(state.range(0))));
    for (auto _ : state) {
        queue.PutPacket(data.data(), data.size(), 1);
        dispatcher.tick();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
    state.counters["packets_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DispatchWithDayLog)->Arg(1)->Arg(10);

} // namespace
