// tracker/HandoverQueue.cpp
#include "tracker/HandoverQueue.h"

namespace tracker {

std::array<std::uint8_t, kNoticeSize> makeDisconnectNotice(std::uint32_t connection)
{
    std::array<std::uint8_t, kNoticeSize> notice{kDisconnectNotice};
    platform::writeU32(notice.data() + 1, connection);
    return notice;
}

template <typename Slot> Slot* HandoverQueue::Ring<Slot>::putSlot()
{
    if (full)
        return nullptr;
    Slot* slot = &cells[tail];
    if (++tail == cells.size())
        tail = 0;
    if (tail == head)
        full = true;
    return slot;
}

template <typename Slot> void HandoverQueue::Ring<Slot>::drop(void (*clear)(Slot&))
{
    if (empty())
        return;
    clear(cells[head]);
    if (++head == cells.size())
        head = 0;
    if (head != tail)
        full = false;
}

HandoverQueue::HandoverQueue() : m_packets(kPacketQueueCapacity), m_notices(kNoticeQueueCapacity) {}

bool HandoverQueue::PutPacket(const std::uint8_t* record, std::size_t count,
                              std::uint32_t connection)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    PacketSlot* slot = m_packets.putSlot();
    if (!slot)
        return false;
    slot->record.assign(record, record + count);
    slot->connection = connection;
    ++m_recordsPut;
    return true;
}

bool HandoverQueue::PeekPacket(Bytes* record, std::uint32_t* connection)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const PacketSlot* slot = m_packets.oldest();
    if (!slot)
        return false;
    *record = slot->record;
    *connection = slot->connection;
    return true;
}

void HandoverQueue::DropPacket()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_packets.empty())
        return;
    // The slot keeps its capacity: the next record of up to 1043 bytes fits without allocating.
    m_packets.drop([](PacketSlot& s) { s.record.clear(); });
    ++m_recordsDropped;
}

bool HandoverQueue::PutNotice(const std::uint8_t* notice, std::size_t count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    NoticeSlot* slot = m_notices.putSlot();
    if (!slot)
        return false;
    slot->notice.assign(notice, notice + count);
    slot->recordsBefore = m_recordsPut;
    return true;
}

bool HandoverQueue::PeekNotice(Bytes* notice, std::uint64_t* recordsBefore)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const NoticeSlot* slot = m_notices.oldest();
    if (!slot)
        return false;
    *notice = slot->notice;
    if (recordsBefore)
        *recordsBefore = slot->recordsBefore;
    return true;
}

void HandoverQueue::DropNotice()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notices.drop([](NoticeSlot& s) { s.notice.clear(); });
}

std::uint64_t HandoverQueue::recordsDropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_recordsDropped;
}

} // namespace tracker
