// tracker/HandoverQueue.h: the bounded queues from connection workers to the dispatcher.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/Ring.h"
#include "tracker/PacketFormat.h"

namespace tracker {

inline constexpr std::size_t kPacketQueueCapacity = 10000;
inline constexpr std::size_t kNoticeQueueCapacity = 1000;

// Disconnect notice: kind 1, then the connection number, 32-bit little-endian.
inline constexpr std::size_t kNoticeSize = 5;
inline constexpr std::uint8_t kDisconnectNotice = 1;
std::array<std::uint8_t, kNoticeSize> makeDisconnectNotice(std::uint32_t connection);

// Two rings, packet records and disconnect notices, under one lock.
//
// Connection numbers: every accepted connection gets a number that is never reused within a
// run. It travels beside each packet record and inside each notice, so the dispatcher binds a
// tracker to a connection that cannot be mistaken for a later one holding the same socket.
//
// Sequence numbers: every record put is numbered, 1 for the first, counting up. Whoever makes
// records safe (the dispatcher) reports with markKept how far they are kept; a worker that
// acknowledges only kept records waits for its record's number with waitKept.
class HandoverQueue
{
public:
    HandoverQueue();

    // Any thread. Copies the record (IMEI field then packet). The record's sequence number, or
    // 0 when the queue was full and nothing was stored.
    std::uint64_t pushPacket(const std::uint8_t* record, std::size_t count,
                             std::uint32_t connection);

    // Dispatcher only. A copy of the oldest record and its connection; false when empty.
    bool peekPacket(Bytes* record, std::uint32_t* connection);

    // Dispatcher only. Removes the oldest record; nothing on an empty queue.
    void popPacket();

    // Any thread. Copies the notice; false when the queue is full. The notice remembers how
    // many records had been put before it.
    bool pushNotice(const std::uint8_t* notice, std::size_t count);

    // Dispatcher only. A copy of the oldest notice; false when empty. *recordsBefore is the
    // number of records put before this notice: once that many have been dropped, every
    // record its connection queued ahead of it has been taken.
    bool peekNotice(Bytes* notice, std::uint64_t* recordsBefore = nullptr);

    // Dispatcher only. Removes the oldest notice; nothing on an empty queue.
    void popNotice();

    // Records dropped since the queue was made.
    std::uint64_t recordsDropped() const;

    // Any thread. Every record numbered up to upTo is kept; wakes the workers waiting for one
    // of them, and only those. A smaller number than already reported changes nothing.
    void markKept(std::uint64_t upTo);

    // Any thread. Waits until the record numbered sequence is kept, at most limit. False on
    // time-out, and at once (or as soon as it happens) once releaseWaiters was called and the
    // record is not kept.
    bool waitKept(std::uint64_t sequence, std::chrono::milliseconds limit);

    // Any thread. Ends every kept wait, now and later, for the listener's stop.
    void releaseWaiters();

    // Any thread. Threads inside waitKept now; lets a test know a wait has begun.
    std::size_t keptWaiters() const;

private:
    struct PacketSlot
    {
        Bytes record;
        std::uint32_t connection = 0;
    };

    struct NoticeSlot
    {
        Bytes notice;
        std::uint64_t recordsBefore = 0;
    };

    mutable std::mutex m_mutex;
    platform::Ring<PacketSlot> m_packets; // guarded by m_mutex
    platform::Ring<NoticeSlot> m_notices; // guarded by m_mutex
    std::uint64_t m_recordsPut = 0;       // guarded by m_mutex
    std::uint64_t m_recordsDropped = 0;   // guarded by m_mutex

    // A worker waiting for its record. Whoever ends the wait takes it out of the list under
    // m_keptMutex (claimed), then wakes it under the waiter's own lock, so the woken workers do
    // not queue up for m_keptMutex behind each other and the one that wakes them.
    struct KeptWaiter
    {
        std::mutex mutex;
        std::condition_variable woken;
        bool claimed = false; // guarded by m_keptMutex: out of the list, about to be woken
        bool done = false;    // guarded by mutex: woken, the waker no longer touches it
        bool kept = false;    // guarded by mutex: what the wait ends with
    };

    using KeptWaiters = std::multimap<std::uint64_t, KeptWaiter*>; // by sequence

    // Under m_keptMutex: takes the waiters before end off the list, claimed, to be woken.
    std::vector<KeptWaiter*> claimBefore(KeptWaiters::iterator end);
    static void wake(KeptWaiter& waiter, bool kept);

    // Apart from the rings: reporting kept records never waits for a put.
    mutable std::mutex m_keptMutex;
    std::uint64_t m_kept = 0;  // guarded by m_keptMutex
    bool m_released = false;   // guarded by m_keptMutex
    KeptWaiters m_keptWaiters; // guarded by m_keptMutex
};

} // namespace tracker
