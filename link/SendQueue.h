// link/SendQueue.h: the client's queue of frames waiting to go to the message server, and the
// message counter, under one lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "link/Frames.h"
#include "platform/Ring.h"

namespace msglink {

inline constexpr std::size_t kSendQueueCapacity = 300;

// What a queued frame is, so that a failed exchange knows what it lost.
enum class FrameKind
{
    Control, // login frames, echo replies: not kept when lost
    Live,    // a data message handed over live: kept in the backlog when its exchange fails
    Backlog  // a data message from the backlog: the store still holds it
};

struct QueuedFrame
{
    Bytes payload;
    FrameKind kind = FrameKind::Control;
    std::uint64_t ticket = 0; // Backlog: which taking of the oldest record this frame is
};

// A ring of 300 payloads, first in, first out; it is not cleared when the link drops. Building a
// frame (taking its number) and pushing it happen under the same lock, so every frame gets its
// own number and numbers go out in order. Any thread; never call it while waiting for another
// thread.
class SendQueue
{
public:
    SendQueue();

    // False when full; the frame is not stored.
    bool QueuePush(QueuedFrame frame);

    // A copy of the oldest frame, or nothing when empty.
    std::optional<QueuedFrame> QueuePeek() const;

    // Releases the oldest frame; nothing when empty.
    void QueuePop();

    // Builds the frame with the next message number and pushes it. When the queue is full the
    // frame is not built and the counter does not move. False when full.
    bool QueueFrame(std::uint32_t code, const Bytes& body, FrameKind kind = FrameKind::Control,
                    std::uint64_t ticket = 0);

    bool empty() const;
    std::size_t size() const;

    // Removes and returns every frame still queued (for the client's end).
    std::vector<QueuedFrame> takeAll();

private:
    mutable std::mutex m_mutex;
    platform::Ring<QueuedFrame> m_ring; // guarded by m_mutex
    MessageCounter m_counter;           // guarded by m_mutex
};

} // namespace msglink
