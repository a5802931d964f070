// fuzz/tracker_stream.cpp: a tracker's byte stream cut into packets by the packet reader, taken
// in and acknowledged by the intake, then dispatched into position messages.
//
// Input: one byte, then receives. The first byte's low three bits say how many of every eight
// messages the sink refuses (a backlog that cannot be written). Then each receive is a byte n
// and: n = 0 a wait that runs out, n = 255 the connection ends and the next one begins, any other
// n the next n bytes as the tracker sent them in one piece (the reader may take them over
// several receives). The input's end closes the last connection.
//
// Properties: a packet is exactly the bytes received since the previous one ended, as long as
// its header says, with a right checksum; an acknowledgement is 01 and the packet's checksum
// bytes, and none is given for records before the tracker identified itself; every record
// queued is taken by the dispatcher and every message it made is kept in the end; every message
// is a well-formed position message naming an IMEI that an identification packet brought.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "fuzz/PositionJson.h"
#include "platform/DayLog.h"
#include "tests/fakes/FakeClock.h"
#include "tests/fakes/Packets.h"
#include "tracker/Crc16.h"
#include "tracker/Dispatcher.h"
#include "tracker/HandoverQueue.h"
#include "tracker/PacketIntake.h"
#include "tracker/PacketReader.h"

namespace {

using platform::Bytes;
using tracker::ReceiveStatus;

class StreamSource final : public tracker::ByteSource
{
public:
    explicit StreamSource(fuzz::Input& in) : m_in(in) {}

    ReceiveStatus receive(std::uint8_t* buffer, std::size_t count, std::size_t* received) override
    {
        *received = 0;
        if (m_at == m_piece.size()) {
            const std::uint8_t n = m_in.byte();
            if (m_in.empty() && n == 0) {
                m_ended = true;
                return ReceiveStatus::Closed;
            }
            if (n == 0)
                return ReceiveStatus::TimedOut;
            if (n == 255) {
                m_connectionEnded = true;
                return ReceiveStatus::Closed;
            }
            m_piece = m_in.bytes(n);
            m_at = 0;
            if (m_piece.empty()) {
                m_ended = true;
                return ReceiveStatus::Closed;
            }
        }
        const std::size_t k = std::min(count, m_piece.size() - m_at);
        std::copy_n(m_piece.begin() + static_cast<std::ptrdiff_t>(m_at), k, buffer);
        m_delivered.insert(m_delivered.end(), buffer, buffer + k);
        m_at += k;
        *received = k;
        return ReceiveStatus::Data;
    }

    bool ended() const { return m_ended; }
    // True once after a connection ended.
    bool takeConnectionEnd()
    {
        const bool ended = m_connectionEnded;
        m_connectionEnded = false;
        return ended;
    }
    // The bytes delivered since the last forget.
    const Bytes& delivered() const { return m_delivered; }
    void forget() { m_delivered.clear(); }

private:
    fuzz::Input& m_in;
    Bytes m_piece;
    std::size_t m_at = 0;
    Bytes m_delivered;
    bool m_ended = false;
    bool m_connectionEnded = false;
};

// Keeps every message but refuses `refused` of every eight offers.
class RefusingSink final : public tracker::PositionSink
{
public:
    explicit RefusingSink(unsigned refused) : m_refused(refused) {}

    bool storeMessage(const std::string& text) override
    {
        if (m_offers++ % 8 < m_refused)
            return false;
        messages.push_back(text);
        return true;
    }

    std::vector<std::string> messages;

private:
    const unsigned m_refused;
    unsigned m_offers = 0;
};

void checkPacket(const Bytes& packet, const Bytes& delivered)
{
    FUZZ_CHECK(packet == delivered, "packet " + fuzz::hex(packet.data(), packet.size()) +
                                        " differs from the bytes received " +
                                        fuzz::hex(delivered.data(), delivered.size()));
    FUZZ_CHECK(packet.size() == tracker::kHeaderSize +
                                    tracker::bodyLength(platform::readU16(packet.data())) +
                                    tracker::kChecksumSize,
               "packet length differs from its header: " + fuzz::hex(packet.data(), packet.size()));
    FUZZ_CHECK(tracker::packetChecksum(packet.data(), packet.size() - 2) ==
                   platform::readU16(packet.data() + packet.size() - 2),
               "packet passed with a wrong checksum: " + fuzz::hex(packet.data(), packet.size()));
}

void checkAcknowledgement(const tracker::PacketIntake& intake, const Bytes& packet)
{
    const tracker::Acknowledgement& ack = intake.acknowledgement();
    const std::size_t n = packet.size();
    // Records that name no tracker cannot reach the server; they must not be acknowledged.
    FUZZ_CHECK(intake.identified() ||
                   tracker::packetType(platform::readU16(packet.data())) != tracker::kDataPacket ||
                   n < 5 || packet[2] == 0,
               "data packet acknowledged before the tracker identified itself: " +
                   fuzz::hex(packet.data(), n));
    FUZZ_CHECK(ack[0] == 0x01 && ack[1] == packet[n - 2] && ack[2] == packet[n - 1],
               "acknowledgement " + fuzz::hex(ack.data(), ack.size()) +
                   " does not repeat the checksum bytes of " + fuzz::hex(packet.data(), n));
}

// One queue for every run, as its rings are large; each run leaves it empty. Every slot has held
// a record of the largest size once, so no run allocates in the queue (an allocation kept past a
// run would make every run a leak check).
tracker::HandoverQueue& warmedQueue()
{
    static tracker::HandoverQueue queue;
    const Bytes largest(tracker::kImeiFieldSize + tracker::kMaxPacketSize);
    while (queue.pushPacket(largest.data(), largest.size(), 0) != 0) {
    }
    const auto notice = tracker::makeDisconnectNotice(0);
    while (queue.pushNotice(notice.data(), notice.size())) {
    }
    std::uint32_t connection = 0;
    for (Bytes slot; queue.peekPacket(&slot, &connection);)
        queue.popPacket();
    for (Bytes slot; queue.peekNotice(&slot);)
        queue.popNotice();
    return queue;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static platform::DayLog dayLog(fuzz::scratchDirectory(), fakes::workedTime);
    static const std::string dayLogFile = dayLog.pathFor(fakes::workedTime());
    std::remove(dayLogFile.c_str()); // one run's lines at a time
    static tracker::HandoverQueue& queue = warmedQueue();

    fuzz::Input in(data, size);
    RefusingSink sink(in.byte() % 8);
    fakes::FakeClock clock;
    tracker::PacketIntake intake(queue);
    tracker::Dispatcher dispatcher(queue, dayLog, sink, clock);
    StreamSource source(in);
    tracker::PacketReader reader;

    std::uint32_t connection = 1;
    intake.begin(connection);
    std::uint64_t queued = 0;
    std::set<Bytes> imeis;
    while (!source.ended()) {
        const tracker::CycleResult r = reader.step(source);
        if (r == tracker::CycleResult::Packet) {
            const Bytes& packet = reader.packet();
            checkPacket(packet, source.delivered());
            const tracker::Taken taken = intake.take(packet.data(), packet.size());
            if (taken != tracker::Taken::QueueFull)
                ++queued;
            if (taken == tracker::Taken::Acknowledge)
                checkAcknowledgement(intake, packet);
            if (taken != tracker::Taken::QueueFull &&
                tracker::packetType(platform::readU16(packet.data())) ==
                    tracker::kIdentificationPacket &&
                packet.size() >= tracker::kImeiOffset + tracker::kImeiLength)
                imeis.emplace(packet.begin() + tracker::kImeiOffset,
                              packet.begin() + tracker::kImeiOffset + tracker::kImeiLength);
        }
        if (r != tracker::CycleResult::Partial)
            source.forget();
        if (source.takeConnectionEnd()) {
            const auto notice = tracker::makeDisconnectNotice(connection);
            queue.pushNotice(notice.data(), notice.size());
            dispatcher.tick();
            intake.begin(++connection);
        }
    }

    // Every refused message is offered again once the retry time has passed.
    for (int ticks = 0;
         ticks < 100000 && (dispatcher.recordsTaken() < queued || dispatcher.heldMessages() > 0);
         ++ticks) {
        clock.advanceMs(1001);
        dispatcher.tick();
    }
    FUZZ_CHECK(dispatcher.recordsTaken() == queued, std::to_string(queued) + " records queued, " +
                                                        std::to_string(dispatcher.recordsTaken()) +
                                                        " taken");
    FUZZ_CHECK(dispatcher.heldMessages() == 0, "messages still held after every retry");
    FUZZ_CHECK(dispatcher.keptRecords() == queued, "records taken but not counted as kept");
    dispatcher.tick(); // the last notices
    Bytes left;
    FUZZ_CHECK(!queue.peekPacket(&left, &connection) && !queue.peekNotice(&left),
               "the queue is not empty at the end");

    for (const std::string& m : sink.messages) {
        const fuzz::PositionCheck c = fuzz::checkPositionMessage(m);
        FUZZ_CHECK(c.problem.empty(), "malformed position message (" + c.problem + "): " + m);
        FUZZ_CHECK(imeis.count(c.imei) == 1, "message names an IMEI no tracker sent: " + m);
    }
    return 0;
}
