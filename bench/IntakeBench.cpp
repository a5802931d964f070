// bench/IntakeBench.cpp: the checksum and the cutting of packets from a connection's bytes.
#include <benchmark/benchmark.h>

#include <cstring>

#include "tools/gt20sim/TrackerPackets.h"
#include "tracker/Crc16.h"
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

// A connection whose bytes are all there: every receive gets what it asks for.
class MemorySource final : public ByteSource
{
public:
    explicit MemorySource(const Bytes& stream) : m_stream(stream) {}
    ReceiveStatus receive(std::uint8_t* buffer, std::size_t count, std::size_t* received) override
    {
        if (m_pos == m_stream.size())
            m_pos = 0;
        std::size_t n = std::min(count, m_stream.size() - m_pos);
        std::memcpy(buffer, m_stream.data() + m_pos, n);
        m_pos += n;
        *received = n;
        return ReceiveStatus::Data;
    }

private:
    const Bytes& m_stream;
    std::size_t m_pos = 0;
};

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
    Bytes buffer;
    for (auto _ : state) {
        CycleResult r = readPacket(source, buffer);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * one.size()));
}
BENCHMARK(BM_CutPackets)->Arg(21)->Arg(200)->Arg(1023);

} // namespace
