// link/SendQueue.cpp
#include "link/SendQueue.h"

namespace msglink {

bool SendQueue::pushFrame(std::uint32_t code, const Bytes& body)
{
    Bytes* slot = m_ring.pushSlot();
    if (!slot)
        return false;
    *slot = buildFrame(m_counter, code, body);
    return true;
}

std::optional<Bytes> SendQueue::peek() const
{
    if (const Bytes* payload = m_ring.front())
        return *payload;
    return std::nullopt;
}

void SendQueue::clear()
{
    while (!m_ring.empty())
        m_ring.pop();
}

} // namespace msglink
