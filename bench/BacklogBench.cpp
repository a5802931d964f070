// bench/BacklogBench.cpp: backlog operations per second with 300-byte messages, on a data file
// near its full size of one million bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include <string>

#include "backlog/TBackSoob.h"
#include "tests/fakes/TempDir.h"

using backlog::Bytes;
using backlog::TBackSoob;

namespace {

constexpr std::uint32_t kData = 0x022000C7;
constexpr std::size_t kMessageSize = 300;
constexpr std::size_t kRecordSize = kMessageSize + backlog::kRecordOverhead;
// Records that bring data file 0 to just under the roll-over size.
constexpr std::size_t kFullFileRecords = backlog::kDataFileLimit / kRecordSize - 1;

Bytes message(std::size_t i)
{
    std::string s = "{\"$c$\":\"gps\",\"type\":\"gt20v5\",\"imei\":\"356307042441013\",\"n\":" +
                    std::to_string(i) + "}";
    s.resize(kMessageSize, ' ');
    return Bytes(s.begin(), s.end());
}

// A benchmark on a store that fails measures nothing.
void check(const backlog::StoreStatus& status)
{
    if (!status) {
        std::fprintf(stderr, "backlog: %s\n", status.text().c_str());
        std::abort();
    }
}

struct FullStore
{
    FullStore()
    {
        store.setSubdirectoryName(backlog::kStoreDirectory);
        check(store.OpenStore());
        for (std::size_t i = 0; i < kFullFileRecords; ++i)
            check(store.AddMessage(kData, message(i)));
    }
    fakes::TempDir dir;
    TBackSoob store{dir.path()};
};

// Appending while the write file sits near the limit; it rolls over now and then.
void BM_AddMessage(benchmark::State& state)
{
    FullStore s;
    Bytes body = message(7);
    for (auto _ : state)
        check(s.store.AddMessage(kData, body));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_AddMessage)->UseRealTime();

// Reading the oldest record of a full data file.
void BM_PeekOldest(benchmark::State& state)
{
    FullStore s;
    for (auto _ : state) {
        TBackSoob::Peek p = s.store.PeekOldest();
        check(p.status);
        benchmark::DoNotOptimize(p.body.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_PeekOldest)->UseRealTime();

// Removing the oldest record rewrites the rest of a full data file. One message is added back
// outside the timing, so the file stays full.
void BM_DeleteOldest(benchmark::State& state)
{
    FullStore s;
    Bytes body = message(9);
    for (auto _ : state) {
        check(s.store.DeleteOldest());
        state.PauseTiming();
        check(s.store.AddMessage(kData, body));
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_DeleteOldest)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The client's drain of one full data file: peek and delete until it is empty, so the file
// shrinks from full to nothing (half its size on average).
void BM_DrainFullFile(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        {
            FullStore s;
            state.ResumeTiming();
            while (s.store.Count() > 0) {
                check(s.store.PeekOldest().status);
                check(s.store.DeleteOldest());
            }
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kFullFileRecords));
}
BENCHMARK(BM_DrainFullFile)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

} // namespace
