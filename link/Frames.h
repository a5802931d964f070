// link/Frames.h: building the payloads we send and checking the ones the server returns.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "link/FrameFormat.h"

namespace msglink {

// A message code and its body: what a frame carries and what the backlog keeps.
struct Message
{
    std::uint32_t code = 0;
    Bytes body;
};

// The client's running message number: zero when the client is created, never reset.
// Not locked: the client guards it with the lock of its send queue, so that every frame gets
// its own number.
class MessageCounter
{
public:
    // The number for the next frame; the counter moves on by one.
    std::int64_t take() { return m_next++; }
    std::int64_t next() const { return m_next; }

private:
    std::int64_t m_next = 0;
};

// Header and body with the given number. Bodies above kMaxPayloadLength - kHeaderSize are the
// caller's bug; sendFrame refuses the result.
Bytes makePayload(std::uint32_t code, const Bytes& body, std::int64_t number);

// Build frame: the payload takes the counter's number and advances it.
Bytes buildFrame(MessageCounter& counter, std::uint32_t code, const Bytes& body);

// The poll: always number 0; the counter is left alone.
Bytes buildPoll();

// The bytes that go on the wire for a payload: envelope (marker 0xFF, both length fields,
// reserved bytes zero) followed by the payload.
Bytes wrapInEnvelope(const Bytes& payload);

// Bodies of the identification frames.
Bytes moduleIdentificationBody();                      // 36 00
Bytes portReportBody();                                // 04 "COM0" 00 00 00
Bytes firstNumberBody(int firstNumber);                // the low 8 bits of the setting
Bytes versionReportBody(std::string_view fileVersion); // four unsigned 16-bit numbers

// The login sequence in the order it is queued right after a connect: module identification,
// port report, first-number report, version report. The caller builds each one with its own
// number at the moment it queues it.
std::array<Message, 4> loginMessages(int firstNumber, std::string_view fileVersion = kFileVersion);

// What a valid reply asks of the client.
enum class ReplyKind
{
    LoginAccepted,
    DeliveryConfirmation,
    EchoRequest,
    PollReply,
    CloseOrder,
    DisconnectCommand,
    Other
};

bool isDeliveryConfirmation(std::uint32_t code);

// Matched in the order login accepted, delivery confirmations, echo request, poll reply, the two
// close orders, disconnect command.
ReplyKind classifyReply(std::uint32_t code);

struct Reply
{
    std::uint32_t code = 0;
    ReplyKind kind = ReplyKind::Other;
    // Empty when the header's body length is 0; otherwise every byte after the header,
    // whatever the length field says.
    Bytes body;
};

// Checks a received payload. Nothing when it is shorter than the header or a header marker is
// wrong: such a reply is ignored (the link stays up and it is no valid reply).
std::optional<Reply> checkReply(const Bytes& payload);

} // namespace msglink
