// link/SendQueue.cpp
#include "link/SendQueue.h"

namespace msglink {

SendQueue::SendQueue() : m_slots(kSendQueueCapacity) {}

bool SendQueue::pushLocked(QueuedFrame&& frame)
{
    if (m_full)
        return false;
    m_slots[m_write] = std::move(frame);
    m_write = (m_write + 1) % kSendQueueCapacity;
    if (m_write == m_read)
        m_full = true;
    return true;
}

bool SendQueue::QueuePush(QueuedFrame frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return pushLocked(std::move(frame));
}

std::optional<QueuedFrame> SendQueue::QueuePeek() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_read == m_write && !m_full)
        return std::nullopt;
    return m_slots[m_read];
}

void SendQueue::QueuePop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_read == m_write && !m_full)
        return;
    m_slots[m_read] = QueuedFrame{};
    m_read = (m_read + 1) % kSendQueueCapacity;
    if (m_read != m_write)
        m_full = false;
}

bool SendQueue::QueueFrame(std::uint32_t code, const Bytes& body, FrameKind kind,
                           std::uint64_t ticket)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_full)
        return false;
    return pushLocked({buildFrame(m_counter, code, body), kind, ticket});
}

bool SendQueue::empty() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_read == m_write && !m_full;
}

std::size_t SendQueue::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_full)
        return kSendQueueCapacity;
    return (m_write + kSendQueueCapacity - m_read) % kSendQueueCapacity;
}

std::vector<QueuedFrame> SendQueue::takeAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<QueuedFrame> out;
    while (m_read != m_write || m_full) {
        out.push_back(std::move(m_slots[m_read]));
        m_slots[m_read] = QueuedFrame{};
        m_read = (m_read + 1) % kSendQueueCapacity;
        m_full = false;
    }
    return out;
}

} // namespace msglink
