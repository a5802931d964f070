// tracker/TpoolTH.h: a connection worker; serves one tracker connection at a time, then waits
// idle to be handed the next one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>

#include "platform/Socket.h"
#include "platform/Thread.h"
#include "tracker/PacketFormat.h"

namespace tracker {

class tserv;

class TpoolTH
{
public:
    TpoolTH(tserv& owner, std::size_t index);

    TpoolTH(const TpoolTH&) = delete;
    TpoolTH& operator=(const TpoolTH&) = delete;

private:
    friend class tserv;

    enum class State
    {
        Serving,
        Idle,
        Ended
    };

    void execute();
    void serve();
    // A packet with a right checksum is in m_buffer. False when the connection must end.
    bool acceptPacket();
    void endConnection();

    tserv& m_owner;
    const std::size_t m_index; // place in the owner's pool

    // Set by the listener under its pool lock, only while this worker is idle or not yet
    // running; the worker reads them after the hand-over has woken it.
    platform::SocketHandle m_socket = platform::kInvalidSocket;
    std::uint32_t m_connection = 0;
    std::int64_t m_ticksPerMs = 1;
    State m_state = State::Serving;
    bool m_stopping = false;
    std::condition_variable m_wake;

    std::atomic<bool> m_stopFlag{false}; // read between read cycles

    // The worker's own.
    std::uint64_t m_lastActivity = 0;
    ImeiField m_imei{};
    Bytes m_buffer; // the packet being read, reused
    Bytes m_record; // IMEI field and packet, reused
    platform::Thread m_thread;
};

} // namespace tracker
