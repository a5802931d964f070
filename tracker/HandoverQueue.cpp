// tracker/HandoverQueue.cpp
#include "tracker/HandoverQueue.h"

namespace tracker {

std::array<std::uint8_t, kNoticeSize> makeDisconnectNotice(std::uint32_t connection)
{
    std::array<std::uint8_t, kNoticeSize> notice{kDisconnectNotice};
    platform::writeU32(notice.data() + 1, connection);
    return notice;
}

HandoverQueue::HandoverQueue() : m_packets(kPacketQueueCapacity), m_notices(kNoticeQueueCapacity) {}

std::uint64_t HandoverQueue::pushPacket(const std::uint8_t* record, std::size_t count,
                                        std::uint32_t connection)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    PacketSlot* slot = m_packets.pushSlot();
    if (!slot)
        return 0;
    slot->record.assign(record, record + count);
    slot->connection = connection;
    return ++m_recordsPut;
}

bool HandoverQueue::peekPacket(Bytes* record, std::uint32_t* connection)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const PacketSlot* slot = m_packets.front();
    if (!slot)
        return false;
    *record = slot->record;
    *connection = slot->connection;
    return true;
}

void HandoverQueue::popPacket()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_packets.empty())
        return;
    // The slot keeps its capacity: the next record of up to 1043 bytes fits without allocating.
    m_packets.pop([](PacketSlot& s) { s.record.clear(); });
    ++m_recordsDropped;
}

bool HandoverQueue::pushNotice(const std::uint8_t* notice, std::size_t count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    NoticeSlot* slot = m_notices.pushSlot();
    if (!slot)
        return false;
    slot->notice.assign(notice, notice + count);
    slot->recordsBefore = m_recordsPut;
    return true;
}

bool HandoverQueue::peekNotice(Bytes* notice, std::uint64_t* recordsBefore)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const NoticeSlot* slot = m_notices.front();
    if (!slot)
        return false;
    *notice = slot->notice;
    if (recordsBefore)
        *recordsBefore = slot->recordsBefore;
    return true;
}

void HandoverQueue::popNotice()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notices.pop([](NoticeSlot& s) { s.notice.clear(); });
}

std::uint64_t HandoverQueue::recordsDropped() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_recordsDropped;
}

std::vector<HandoverQueue::KeptWaiter*> HandoverQueue::claimBefore(KeptWaiters::iterator end)
{
    std::vector<KeptWaiter*> claimed;
    for (auto it = m_keptWaiters.begin(); it != end; ++it) {
        it->second->claimed = true;
        claimed.push_back(it->second);
    }
    m_keptWaiters.erase(m_keptWaiters.begin(), end);
    return claimed;
}

void HandoverQueue::markKept(std::uint64_t upTo)
{
    std::vector<KeptWaiter*> claimed;
    {
        std::lock_guard<std::mutex> lock(m_keptMutex);
        if (upTo <= m_kept)
            return;
        m_kept = upTo;
        claimed = claimBefore(m_keptWaiters.upper_bound(upTo));
    }
    for (KeptWaiter* waiter : claimed)
        wake(*waiter, true);
}

void HandoverQueue::wake(KeptWaiter& waiter, bool kept)
{
    // Told under the waiter's lock: it cannot return, and its wait end, before this is done.
    std::lock_guard<std::mutex> lock(waiter.mutex);
    waiter.kept = kept;
    waiter.done = true;
    waiter.woken.notify_one();
}

bool HandoverQueue::waitKept(std::uint64_t sequence, std::chrono::milliseconds limit)
{
    KeptWaiter waiter;
    KeptWaiters::iterator entry;
    {
        std::lock_guard<std::mutex> lock(m_keptMutex);
        if (m_kept >= sequence || m_released)
            return m_kept >= sequence;
        entry = m_keptWaiters.emplace(sequence, &waiter);
    }
    std::unique_lock<std::mutex> own(waiter.mutex);
    if (!waiter.woken.wait_for(own, limit, [&] { return waiter.done; })) {
        own.unlock();
        {
            std::lock_guard<std::mutex> lock(m_keptMutex);
            if (!waiter.claimed) {
                m_keptWaiters.erase(entry);
                return m_kept >= sequence;
            }
        }
        // Claimed as the wait ran out: the waker is on its way and must find the waiter.
        own.lock();
        waiter.woken.wait(own, [&] { return waiter.done; });
    }
    return waiter.kept;
}

void HandoverQueue::releaseWaiters()
{
    std::vector<KeptWaiter*> claimed;
    {
        std::lock_guard<std::mutex> lock(m_keptMutex);
        m_released = true;
        claimed = claimBefore(m_keptWaiters.end());
    }
    for (KeptWaiter* waiter : claimed)
        wake(*waiter, false);
}

std::size_t HandoverQueue::keptWaiters() const
{
    std::lock_guard<std::mutex> lock(m_keptMutex);
    return m_keptWaiters.size();
}

} // namespace tracker
