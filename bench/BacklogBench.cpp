// bench/BacklogBench.cpp: the backlog's operations per second with messages the size of a
// position message, and the time it takes to open a store of 10 and of 1 000 000 records.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "backlog/BacklogStore.h"
#include "tests/fakes/TempDir.h"

using backlog::BacklogStore;
using backlog::Bytes;

namespace {

constexpr std::uint32_t kData = 0x022000C7;
constexpr std::size_t kMessageSize = 150; // a position message with all seven fields
// The gateway syncs every 50 ms; at some 20 000 messages a second that is every 1000.
constexpr int kSyncEvery = 1000;

// A benchmark on a store that fails measures nothing.
void check(const backlog::StoreStatus& status)
{
    if (!status) {
        std::fprintf(stderr, "backlog: %s\n", status.text().c_str());
        std::abort();
    }
}

Bytes message(std::size_t i)
{
    std::string s = "{\"n\":" + std::to_string(i) + ",";
    s.resize(kMessageSize, ' ');
    return Bytes(s.begin(), s.end());
}

struct Store
{
    explicit Store(const std::string& base = fakes::TempDir::memoryBase()) : dir(base)
    {
        store = std::make_unique<BacklogStore>(dir.path());
        store->setSubdirectoryName(backlog::kStoreDirectory);
        check(store->open());
    }
    void fill(std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            check(store->append(kData, message(i)));
        check(store->sync());
    }
    void takeOne()
    {
        BacklogStore::Oldest p = store->oldest();
        check(p.status);
        benchmark::DoNotOptimize(p.body.data());
        check(store->takeOldest());
    }
    // After each operation: a sync every kSyncEvery of them, as the gateway's pace gives.
    void syncNowAndThen()
    {
        if (++operations % kSyncEvery == 0)
            check(store->sync());
    }
    fakes::TempDir dir;
    std::unique_ptr<BacklogStore> store;
    int operations = 0;
};

// Appending: one write of the record per message, the index now and then. With takeEach, each
// message is also taken right after it is added.
void appendMessages(benchmark::State& state, bool takeEach)
{
    Store s;
    Bytes body = message(7);
    for (auto _ : state) {
        check(s.store->append(kData, body));
        if (takeEach)
            s.takeOne();
        s.syncNowAndThen();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_Append(benchmark::State& state)
{
    appendMessages(state, false);
}
BENCHMARK(BM_Append)->UseRealTime();

// Taking the oldest record (peek, then delete) from a long backlog, with the syncs that mark
// taken records and delete used-up files.
void BM_TakeOldest(benchmark::State& state)
{
    Store s;
    constexpr std::size_t kBacklog = 200'000;
    s.fill(kBacklog);
    std::size_t left = kBacklog;
    for (auto _ : state) {
        if (left == 0) {
            state.PauseTiming();
            s.fill(kBacklog);
            left = kBacklog;
            state.ResumeTiming();
        }
        s.takeOne();
        --left;
        s.syncNowAndThen();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_TakeOldest)->UseRealTime();

// The steady state of a link that keeps up: each message taken right after it is added.
void BM_AddThenTake(benchmark::State& state)
{
    appendMessages(state, true);
}
BENCHMARK(BM_AddThenTake)->UseRealTime();

// Opening a store that holds range(0) records, half of its read file already taken.
void BM_Open(benchmark::State& state)
{
    static std::map<std::int64_t, std::unique_ptr<Store>> prepared;
    auto& s = prepared[state.range(0)];
    if (!s) {
        s = std::make_unique<Store>();
        s->fill(static_cast<std::size_t>(state.range(0)));
        for (std::int64_t i = 0; i < std::min<std::int64_t>(state.range(0) / 2, 3000); ++i)
            s->takeOne();
        check(s->store->sync());
        s->store.reset();
    }
    for (auto _ : state) {
        BacklogStore store(s->dir.path());
        store.setSubdirectoryName(backlog::kStoreDirectory);
        check(store.open());
        benchmark::DoNotOptimize(store.pendingCount());
    }
}
BENCHMARK(BM_Open)->Arg(10)->Arg(1'000'000)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
