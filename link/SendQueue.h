// link/SendQueue.h: the frames the client has to send before its next data message (the login
// frames, echo replies), and the message counter every frame takes its number from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "link/Frames.h"
#include "platform/Ring.h"

namespace msglink {

inline constexpr std::size_t kSendQueueCapacity = 300;

// A ring of 300 payloads, first in, first out. Client thread only.
class SendQueue
{
public:
    SendQueue() : m_ring(kSendQueueCapacity) {}

    // Builds the frame with the next message number and queues it. When the queue is full the
    // frame is not built, the counter does not move, and the result is false.
    bool pushFrame(std::uint32_t code, const Bytes& body);

    // A frame with the next message number that is sent at once instead of queued.
    Bytes numberedFrame(std::uint32_t code, const Bytes& body)
    {
        return buildFrame(m_counter, code, body);
    }

    // The oldest payload, or nothing when empty; pop releases it.
    std::optional<Bytes> peek() const;
    void pop() { m_ring.pop(); }

    // Drops every queued frame (they belong to a connection that is gone).
    void clear();

    bool empty() const { return m_ring.empty(); }
    std::size_t size() const { return m_ring.size(); }

private:
    platform::Ring<Bytes> m_ring;
    MessageCounter m_counter;
};

} // namespace msglink
