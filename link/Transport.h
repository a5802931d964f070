// link/Transport.h: the four operations that carry frames to the message server and back, as
// the client's state machine uses them. The program's transport is a socket (LinkTransport);
// tests answer from memory.
#pragma once

#include <cstdint>
#include <string>

#include "link/FrameFormat.h"

namespace msglink {

// Why receive frame gave nothing, or Ok.
enum class ReceiveStatus
{
    Ok,
    TimedOut,      // no data within the wait, for the envelope or a payload piece
    WaitFailed,    // the readiness wait itself failed
    Closed,        // the peer ended the stream
    ReadFailed,    // the read reported an error
    ShortEnvelope, // the first read brought fewer than 21 bytes
    BadMarker,     // envelope marker neither 0xFF nor 0xF0
    EmptyPayload,  // declared payload length 0 or less
    Oversized,     // declared payload length above the limit
    NotOpen        // there is no link
};

// Client thread only.
class Transport
{
public:
    virtual ~Transport() = default;

    // Connects; a link still open is closed first. On failure, failure() says why.
    virtual bool openLink(const std::string& dottedAddress, std::uint16_t port) = 0;

    // Wraps the payload in its envelope and writes it at once. False when it could not be sent.
    virtual bool sendFrame(const Bytes& payload) = 0;

    // One frame's payload; anything but Ok leaves payload empty.
    virtual ReceiveStatus receiveFrame(Bytes& payload) = 0;

    // Marks the link down and closes it. Safe to call when already down.
    virtual void dropLink() = 0;

    virtual bool isOpen() const = 0;

    // Why the last openLink failed, in words; empty after a success.
    virtual const std::string& failure() const = 0;
};

} // namespace msglink
