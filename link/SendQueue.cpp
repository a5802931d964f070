// link/SendQueue.cpp
#include "link/SendQueue.h"

namespace msglink {

SendQueue::SendQueue() : m_ring(kSendQueueCapacity) {}

bool SendQueue::QueuePush(QueuedFrame frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ring.push(std::move(frame));
}

std::optional<QueuedFrame> SendQueue::QueuePeek() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (const QueuedFrame* f = m_ring.front())
        return *f;
    return std::nullopt;
}

void SendQueue::QueuePop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ring.pop();
}

bool SendQueue::QueueFrame(std::uint32_t code, const Bytes& body, FrameKind kind,
                           std::uint64_t ticket)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Full: the frame is not built, so the counter does not move.
    QueuedFrame* slot = m_ring.pushSlot();
    if (!slot)
        return false;
    *slot = {buildFrame(m_counter, code, body), kind, ticket};
    return true;
}

bool SendQueue::empty() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ring.empty();
}

std::size_t SendQueue::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ring.size();
}

std::vector<QueuedFrame> SendQueue::takeAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<QueuedFrame> out;
    while (QueuedFrame* f = m_ring.front()) {
        out.push_back(std::move(*f));
        m_ring.pop();
    }
    return out;
}

} // namespace msglink
