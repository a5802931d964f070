// bench/LinkBench.cpp: the link's pace. Live messages through the client next to plain
// request/reply exchanges of the same frames against the same local server (the ceiling), and
// the backlog's drain.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "backlog/BacklogStore.h"
#include "link/LinkTransport.h"
#include "link/LinkClient.h"
#include "tests/fakes/FakeMessageServer.h"

using namespace msglink;

namespace {

const std::string kMessage(150, 'x'); // about the size of a position message

struct QuietView final : LinkView
{
    void appendLinkEvent(const std::string&) override {}
    void showServerAddress(const std::string&) override {}
    void advanceLinkIndicator() override {}
};

struct Scratch
{
    explicit Scratch(std::uint16_t serverPort)
    {
        path = std::filesystem::temp_directory_path() / "gpsbridge-link-bench";
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
        std::ofstream(path / "gpsbridge.ini") << "[ServerHost]\nPort=" << serverPort << "\n";
    }
    ~Scratch() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

ClientOptions clientOptions(const Scratch& dir)
{
    ClientOptions o;
    o.workingDirectory = dir.path.string();
    return o;
}

void waitFor(const std::function<bool()>& pred)
{
    while (!pred())
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// One data frame out, one reply back, on a bare transport: what the link cannot beat.
void BM_PlainExchange(benchmark::State& state)
{
    fakes::FakeMessageServer server;
    server.setKeepFrames(false);
    LinkTransport link;
    if (!link.openLink("127.0.0.1", server.port())) {
        state.SkipWithError("no server");
        return;
    }
    MessageCounter counter;
    Bytes body(kMessage.begin(), kMessage.end());
    Bytes reply;
    for (auto _ : state) {
        link.sendFrame(buildFrame(counter, kDataMessage, body));
        link.receiveFrame(reply);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_PlainExchange)->UseRealTime();

// Live messages as the dispatcher hands them over: batches of 100, the next one given while the
// previous is still going out, so the send queue (300) never runs dry nor over.
void BM_ClientLive(benchmark::State& state)
{
    fakes::FakeMessageServer server;
    server.setKeepFrames(false);
    Scratch dir(server.port());
    QuietView view;
    Outbox outbox(view, platform::steadyClock(), dir.path.string());
    outbox.open();
    LinkClient client(view, outbox, 37, clientOptions(dir));
    waitFor([&] { return client.authorised() && server.received() >= 4; });
    constexpr std::size_t kBatch = 100;
    std::size_t sent = server.received();
    for (auto _ : state) {
        waitFor([&] { return server.received() + kBatch >= sent; });
        for (std::size_t i = 0; i < kBatch; ++i)
            outbox.storeMessage(kMessage);
        sent += kBatch;
    }
    waitFor([&] { return server.received() >= sent; });
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * kBatch));
    state.counters["kept_in_backlog"] = static_cast<double>(outbox.depth());
}
BENCHMARK(BM_ClientLive)->UseRealTime();

// A backlog of range(0) messages drained by a connected client, confirmed one by one.
void BM_BacklogDrain(benchmark::State& state)
{
    fakes::FakeMessageServer server;
    server.setKeepFrames(false);
    Scratch dir(server.port());
    const auto count = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        {
            backlog::BacklogStore store(dir.path.string());
            store.setSubdirectoryName(backlog::kStoreDirectory);
            bool stored = store.open().isOk();
            for (int i = 0; stored && i < count; ++i)
                stored = store.append(kDataMessage, Bytes(kMessage.begin(), kMessage.end())).isOk();
            if (!stored) {
                state.SkipWithError("the backlog cannot be written");
                break;
            }
        }
        QuietView view;
        state.ResumeTiming();
        Outbox outbox(view, platform::steadyClock(), dir.path.string());
        outbox.open();
        LinkClient client(view, outbox, 37, clientOptions(dir));
        waitFor([&] { return outbox.depth() == 0; });
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}
BENCHMARK(BM_BacklogDrain)->Arg(100)->Iterations(1)->UseRealTime();

} // namespace
