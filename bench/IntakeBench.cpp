// bench/IntakeBench.cpp: the checksum, the cutting of packets from a connection's bytes and a
// worker's step for each packet (record queued, acknowledgement).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

#include "tools/gt20sim/TrackerPackets.h"
#include "tracker/Crc16.h"
#include "tracker/PacketIntake.h"
#include "tracker/PacketReader.h"

using namespace tracker;

namespace {

Bytes packet(unsigned type, std::size_t bodyLength)
{
    Bytes body(bodyLength);
    for (std::size_t i = 0; i < bodyLength; ++i)
        body[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return gt20sim::makePacket(type, body);
}

// A connection whose bytes are all there, played round and round; each receive gets what it
// asks for, or at most piece bytes, as when a network splits the stream.
class MemorySource final : public ByteSource
{
public:
    explicit MemorySource(const Bytes& stream, std::size_t piece = kMaxPacketSize)
        : m_stream(stream), m_piece(piece)
    {
    }
    ReceiveStatus receive(std::uint8_t* buffer, std::size_t count, std::size_t* received) override
    {
        if (m_pos == m_stream.size())
            m_pos = 0;
        std::size_t n = std::min({count, m_piece, m_stream.size() - m_pos});
        std::memcpy(buffer, m_stream.data() + m_pos, n);
        m_pos += n;
        *received = n;
        return ReceiveStatus::Data;
    }

private:
    const Bytes& m_stream;
    const std::size_t m_piece;
    std::size_t m_pos = 0;
};

// One packet per iteration, however many receives it takes.
void cutPackets(benchmark::State& state, ByteSource& source)
{
    PacketReader reader;
    for (auto _ : state) {
        CycleResult r;
        do
            r = reader.step(source);
        while (r == CycleResult::Partial);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

void BM_ChecksumLargestPacket(benchmark::State& state)
{
    Bytes p = packet(2, kMaxBodyLength);
    for (auto _ : state)
        benchmark::DoNotOptimize(packetChecksum(p.data(), p.size() - 2));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 1025);
}
BENCHMARK(BM_ChecksumLargestPacket);

// Data packets of the given body length, back to back, as a tracker sends them.
void BM_CutPackets(benchmark::State& state)
{
    Bytes one = packet(2, static_cast<std::size_t>(state.range(0)));
    Bytes stream;
    for (int i = 0; i < 64; ++i)
        stream.insert(stream.end(), one.begin(), one.end());
    MemorySource source(stream);
    cutPackets(state, source);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * one.size()));
}
BENCHMARK(BM_CutPackets)->Arg(21)->Arg(200)->Arg(1023);

// A data packet (200-byte body) arriving in pieces of the given size, as a mobile network may
// split it.
void BM_AssembleSplitPackets(benchmark::State& state)
{
    Bytes one = packet(2, 200);
    MemorySource source(one, static_cast<std::size_t>(state.range(0)));
    cutPackets(state, source);
}
BENCHMARK(BM_AssembleSplitPackets)->Arg(1)->Arg(64);

// A worker's step for one data packet: its record queued behind the IMEI field and the
// acknowledgement built; the dispatcher's side drops it again so the queue never fills.
void BM_TakePacket(benchmark::State& state)
{
    Bytes one = packet(2, static_cast<std::size_t>(state.range(0)));
    HandoverQueue queue;
    PacketIntake intake(queue);
    intake.begin(1);
    Bytes id = packet(1, 36); // identified first, so data packets are acknowledged
    intake.take(id.data(), id.size());
    queue.popPacket();
    for (auto _ : state) {
        Taken t = intake.take(one.data(), one.size());
        if (t != Taken::Acknowledge)
            state.SkipWithError("not acknowledged");
        benchmark::DoNotOptimize(intake.acknowledgement());
        queue.popPacket();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_TakePacket)->Arg(21)->Arg(1023);

} // namespace
