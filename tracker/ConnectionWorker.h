// tracker/ConnectionWorker.h: a connection worker; serves one tracker connection at a time, then
// waits idle in its pool to be handed the next one.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/DayLog.h"
#include "tracker/HandoverQueue.h"
#include "tracker/IntakeCounts.h"
#include "tracker/ListenerOptions.h"
#include "tracker/PacketIntake.h"
#include "tracker/PacketReader.h"
#include "tracker/WorkerPool.h"

namespace tracker {

class ConnectionWorker
{
public:
    // What every worker of one listener shares; all of it outlives the workers.
    struct Context
    {
        WorkerPool& pool;
        HandoverQueue& queue;
        IntakeCounts& counts;
        platform::DayLog& dayLog;
        const ListenerOptions& options;
    };

    // Lives on the worker's own thread, for as long as the thread runs.
    ConnectionWorker(const Context& context, WorkerPool::Slot& slot);

    ConnectionWorker(const ConnectionWorker&) = delete;
    ConnectionWorker& operator=(const ConnectionWorker&) = delete;

    // Worker thread. Serves first, then each connection the pool hands over, until the pool
    // lets the worker go.
    void execute(Connection first);

private:
    void serve(const Connection& connection);
    // A packet with a right checksum is in the reader. False when the connection must end.
    bool takePacket(platform::SocketHandle socket);
    // Checked after every receive.
    bool limitReached(std::uint64_t accepted) const;
    void endConnection(const Connection& connection);

    const Context m_context;
    WorkerPool::Slot& m_slot;
    PacketReader m_reader;
    PacketIntake m_intake;
    std::uint64_t m_lastActivity = 0;
    bool m_open = false; // the connection's socket is not closed yet
};

} // namespace tracker
