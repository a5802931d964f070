// tracker/ConnectionWorker.cpp
#include "tracker/ConnectionWorker.h"

#include <chrono>
#include <string>

namespace tracker {

namespace {

// The timed receive on a connection: a readiness wait, then exactly one recv.
class SocketSource final : public ByteSource
{
public:
    SocketSource(platform::SocketHandle s, int waitMs, platform::Counter& bytesRead)
        : m_socket(s), m_waitMs(waitMs), m_bytesRead(bytesRead)
    {
    }

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
        m_bytesRead.add(r.bytes);
        return ReceiveStatus::Data;
    }

private:
    platform::SocketHandle m_socket;
    int m_waitMs;
    platform::Counter& m_bytesRead;
};

} // namespace

ConnectionWorker::ConnectionWorker(const Context& context, WorkerPool::Slot& slot)
    : m_context(context), m_slot(slot),
      m_intake(context.queue, context.options.ackWhenKept,
               std::chrono::milliseconds(context.options.keptWaitMs))
{
}

void ConnectionWorker::execute(Connection first)
{
    std::optional<Connection> connection = first;
    try {
        while (connection) {
            serve(*connection);
            connection = m_context.pool.waitForNext(m_slot);
        }
    } catch (...) {
        // Unexpected (out of memory). Nothing acknowledged is lost: a packet is acknowledged
        // only after its record is queued. This worker is not used again, but its tracker is
        // not left hanging on an open socket.
        m_context.counts.workerFailures.add();
        if (m_open) {
            try {
                endConnection(*connection);
            } catch (...) {
                // Only the notice or the Disconnect line can be missing here.
            }
        }
    }
}

void ConnectionWorker::serve(const Connection& connection)
{
    const platform::TickClock& clock = *m_context.options.clock;
    m_open = true;
    m_intake.begin(connection.number);
    m_reader.reset();
    const std::uint64_t accepted = clock.read();
    m_lastActivity = accepted;
    m_context.pool.noteActivity(m_slot, accepted, false);
    m_context.dayLog.writeLine(" Connect " + std::to_string(connection.socket));

    SocketSource source(connection.socket, m_context.options.receiveWaitMs,
                        m_context.counts.bytesRead);
    while (!m_context.pool.endRequested(m_slot)) {
        CycleResult r = m_reader.step(source);
        if (r == CycleResult::Ended)
            break;
        if (r == CycleResult::Dropped || r == CycleResult::WrongChecksum)
            (r == CycleResult::Dropped ? m_context.counts.stalled : m_context.counts.wrongChecksum)
                .add();
        if (r == CycleResult::Packet && !takePacket(connection.socket))
            break;
        if (limitReached(accepted))
            break;
    }
    endConnection(connection);
}

bool ConnectionWorker::takePacket(platform::SocketHandle socket)
{
    const Bytes& packet = m_reader.packet();
    const Taken taken = m_intake.take(packet.data(), packet.size());
    m_lastActivity = m_context.options.clock->read();
    m_context.pool.noteActivity(m_slot, m_lastActivity, m_intake.identified());
    switch (taken) {
    case Taken::Acknowledge:
        break;
    case Taken::QueueFull:
        m_context.counts.refusedQueueFull.add();
        return true; // the tracker sends it again
    case Taken::NotKept:
    case Taken::Unidentified:
        m_context.counts.withheld.add();
        return true;
    }
    const Acknowledgement& ack = m_intake.acknowledgement();
    if (platform::sendOnce(socket, ack.data(), ack.size()) != static_cast<long>(ack.size()))
        return false;
    m_context.counts.acknowledged.add();
    return true;
}

bool ConnectionWorker::limitReached(std::uint64_t accepted) const
{
    const ListenerOptions& o = m_context.options;
    const std::uint64_t now = o.clock->read();
    if (o.clock->msBetween(m_lastActivity, now) > o.inactivityLimitMs)
        return true;
    // A connection that never identifies itself only holds a worker (a flood of idle sockets
    // would hold them all); one whose identification packet is arriving may finish it.
    return !m_intake.identified() && !m_reader.assemblingIdentification() &&
           o.clock->msBetween(accepted, now) > o.identifyLimitMs;
}

void ConnectionWorker::endConnection(const Connection& connection)
{
    auto notice = makeDisconnectNotice(connection.number);
    m_context.queue.pushNotice(notice.data(), notice.size());
    m_context.pool.releaseSocket(m_slot);
    platform::closeSocket(connection.socket);
    m_open = false;
    m_context.dayLog.writeLine(" Disconnect " + std::to_string(connection.socket));
}

} // namespace tracker
