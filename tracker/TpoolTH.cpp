// tracker/TpoolTH.cpp
#include "tracker/TpoolTH.h"

#include <mutex>
#include <string>

#include "tracker/HandoverQueue.h"
#include "tracker/PacketReader.h"
#include "tracker/tserv.h"

namespace tracker {

namespace {

// The timed receive on a connection: a readiness wait, then exactly one recv.
class SocketSource final : public ByteSource
{
public:
    SocketSource(platform::SocketHandle s, int waitMs) : m_socket(s), m_waitMs(waitMs) {}

    ReceiveStatus receive(std::uint8_t* buffer, std::size_t count, std::size_t* received) override
    {
        *received = 0;
        switch (platform::waitReadable(m_socket, m_waitMs)) {
        case platform::WaitResult::TimedOut:
            return ReceiveStatus::TimedOut;
        case platform::WaitResult::Failed:
            return ReceiveStatus::WaitFailed;
        case platform::WaitResult::Readable:
            break;
        }
        platform::RecvResult r = platform::recvOnce(m_socket, buffer, count);
        if (r.kind == platform::RecvResult::Kind::Closed)
            return ReceiveStatus::Closed;
        if (r.kind == platform::RecvResult::Kind::Failed)
            return ReceiveStatus::Failed;
        *received = r.bytes;
        return ReceiveStatus::Data;
    }

private:
    platform::SocketHandle m_socket;
    int m_waitMs;
};

} // namespace

TpoolTH::TpoolTH(tserv& owner, std::size_t index) : m_owner(owner), m_index(index)
{
    m_buffer.reserve(kMaxPacketSize);
    m_record.reserve(kImeiFieldSize + kMaxPacketSize);
}

void TpoolTH::execute()
{
    try {
        do {
            serve();
        } while (m_owner.waitIdle(*this));
    } catch (...) {
        // Unexpected (out of memory): this worker is not used again, but its tracker is not
        // left hanging on an open socket.
        try {
            if (m_socket != platform::kInvalidSocket)
                endConnection();
        } catch (...) {
        }
        m_owner.workerEnded(*this);
    }
}

void TpoolTH::serve()
{
    const platform::TickClock& clock = *m_owner.options().clock;
    m_imei.fill(0);
    m_lastActivity = clock.read();
    m_owner.dayLog().writeLine(" Connect " + std::to_string(m_socket));

    SocketSource source(m_socket, m_owner.options().receiveWaitMs);
    while (!m_stopFlag) {
        CycleResult r = readPacket(source, m_buffer);
        if (r == CycleResult::Ended)
            break;
        if (r == CycleResult::Packet && !acceptPacket())
            break;
        if (platform::elapsedMs(m_lastActivity, clock.read(), m_ticksPerMs) >
            m_owner.options().inactivityLimitMs)
            break;
    }
    endConnection();
}

bool TpoolTH::acceptPacket()
{
    m_lastActivity = m_owner.options().clock->read();

    // An identification packet too short to hold the IMEI leaves the field as it was.
    if (packetType(readU16(m_buffer.data())) == kIdentificationPacket &&
        m_buffer.size() >= kImeiOffset + kImeiLength) {
        m_imei[0] = static_cast<std::uint8_t>(kImeiLength);
        std::copy_n(m_buffer.begin() + kImeiOffset, kImeiLength, m_imei.begin() + 1);
    }

    m_record.assign(m_imei.begin(), m_imei.end());
    m_record.insert(m_record.end(), m_buffer.begin(), m_buffer.end());
    // Stored first, acknowledged after: a tracker never counts as delivered a packet that a
    // full queue would lose. Without the acknowledgement it sends the packet again.
    if (!m_owner.queue().PutPacket(m_record.data(), m_record.size(), m_connection))
        return true;

    Acknowledgement ack = buildAcknowledgement(m_buffer.data(), m_buffer.size());
    return platform::sendOnce(m_socket, ack.data(), ack.size()) == static_cast<long>(ack.size());
}

void TpoolTH::endConnection()
{
    auto notice = makeDisconnectNotice(m_connection);
    m_owner.queue().PutNotice(notice.data(), notice.size());

    platform::SocketHandle handle = m_socket;
    {
        // stop() may be shutting this socket down; it must never see a closed, reused number.
        std::lock_guard<std::mutex> lock(m_owner.m_poolMutex);
        m_socket = platform::kInvalidSocket;
    }
    platform::closeSocket(handle);
    m_owner.dayLog().writeLine(" Disconnect " + std::to_string(handle));
}

} // namespace tracker
