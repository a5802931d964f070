// tools/msgserver/ReplyPolicy.h: which frame the test message server answers each received frame
// with, the server-side events it injects, and the counts it keeps.
#pragma once

#include <cstdint>
#include <optional>

#include "link/FrameFormat.h"

namespace msgserver {

// The delivery confirmation the server sends for a data message.
inline constexpr std::uint32_t kDeliveryConfirmation = 0x03000003;

// Events are counted in data messages received before the frame being answered: "after 0"
// answers the very first frame of the run, "after 3" the first frame that follows the third data
// message. The once-events fire on one frame each, in the order drop, disconnect, close order;
// one that has to wait for another fires on the next frame.
struct ServerEvents
{
    bool noLogin = false;        // module identification answered by a poll reply
    bool noConfirm = false;      // data messages answered by a poll reply
    std::uint64_t echoEvery = 0; // every Nth frame of the run answered by an echo request; 0: never
    std::optional<std::uint64_t> closeOrderAfter;
    std::optional<std::uint64_t> disconnectAfter;
    std::optional<std::uint64_t> dropAfter;       // the socket closed without a reply
    std::optional<std::uint64_t> badMarkersAfter; // end marker 0xFD on every reply from then on
};

struct Counts
{
    std::uint64_t connections = 0;
    std::uint64_t frames = 0;
    std::uint64_t logins = 0; // login accepted frames sent
    std::uint64_t dataMessages = 0;
    std::uint64_t polls = 0;
};

struct Answer
{
    enum class Kind
    {
        Reply,
        Drop
    } kind = Kind::Reply;
    std::uint32_t code = 0;
    msglink::Bytes body;
    bool badEndMarker = false;
};

// The payload that carries an answer: the message header with its number, the body, and 0xFD
// in place of the end marker when the answer asks for it.
msglink::Bytes answerPayload(const Answer& answer, std::int64_t number);

// The answer of a server without injected events: login accepted to the module identification,
// a delivery confirmation to a data message, a poll reply without sub-records to anything else
// (a frame whose header was unreadable included).
Answer plainAnswer(std::optional<std::uint32_t> code);

class ReplyPolicy
{
public:
    explicit ReplyPolicy(ServerEvents events = {});

    void connectionAccepted() { ++m_counts.connections; }

    // Counts one received frame, by its message code (nothing when its header was unreadable),
    // and says how to answer it.
    Answer answer(std::optional<std::uint32_t> code);

    const Counts& counts() const { return m_counts; }

private:
    // True, once, on the first frame with at least `after` data messages before it.
    bool fires(const std::optional<std::uint64_t>& after, bool& fired, std::uint64_t before);
    Answer usualAnswer(std::optional<std::uint32_t> code);

    ServerEvents m_events;
    Counts m_counts;
    bool m_closeOrderFired = false;
    bool m_disconnectFired = false;
    bool m_dropFired = false;
};

} // namespace msgserver
