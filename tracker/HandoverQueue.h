// tracker/HandoverQueue.h: the bounded queues from connection workers to the dispatcher.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "tracker/PacketFormat.h"

namespace tracker {

inline constexpr std::size_t kPacketQueueCapacity = 10000;
inline constexpr std::size_t kNoticeQueueCapacity = 1000;

// Disconnect notice: kind 1, then the connection number, 32-bit little-endian.
inline constexpr std::size_t kNoticeSize = 5;
inline constexpr std::uint8_t kDisconnectNotice = 1;
std::array<std::uint8_t, kNoticeSize> makeDisconnectNotice(std::uint32_t connection);

// Two rings, packet records and disconnect notices, under one lock. Every slot is usable: a full
// flag tells a full ring from an empty one when head meets tail.
//
// Connection numbers: every accepted connection gets a number that is never reused within a
// run. It travels beside each packet record and inside each notice, so the dispatcher binds a
// tracker to a connection that cannot be mistaken for a later one holding the same socket.
class HandoverQueue
{
public:
    HandoverQueue();

    // Any thread. Copies the record (IMEI field then packet); false when the queue is full.
    bool PutPacket(const std::uint8_t* record, std::size_t count, std::uint32_t connection);

    // Dispatcher only. A copy of the oldest record and its connection; false when empty.
    bool PeekPacket(Bytes* record, std::uint32_t* connection);

    // Dispatcher only. Removes the oldest record; nothing on an empty queue.
    void DropPacket();

    // Any thread. Copies the notice; false when the queue is full. The notice remembers how
    // many records had been put before it.
    bool PutNotice(const std::uint8_t* notice, std::size_t count);

    // Dispatcher only. A copy of the oldest notice; false when empty. *recordsBefore is the
    // number of records put before this notice: once that many have been dropped, every
    // record its connection queued ahead of it has been taken.
    bool PeekNotice(Bytes* notice, std::uint64_t* recordsBefore = nullptr);

    // Dispatcher only. Removes the oldest notice; nothing on an empty queue.
    void DropNotice();

    // Records dropped since the queue was made.
    std::uint64_t recordsDropped() const;

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

    template <typename Slot> struct Ring
    {
        explicit Ring(std::size_t capacity) : cells(capacity) {}
        bool empty() const { return head == tail && !full; }
        Slot* putSlot(); // the slot to fill and advance past, or null when full
        const Slot* oldest() const { return empty() ? nullptr : &cells[head]; }
        void drop(void (*clear)(Slot&));

        std::vector<Slot> cells;
        std::size_t head = 0;
        std::size_t tail = 0;
        bool full = false;
    };

    mutable std::mutex m_mutex;
    Ring<PacketSlot> m_packets;         // guarded by m_mutex
    Ring<NoticeSlot> m_notices;         // guarded by m_mutex
    std::uint64_t m_recordsPut = 0;     // guarded by m_mutex
    std::uint64_t m_recordsDropped = 0; // guarded by m_mutex
};

} // namespace tracker
