// link/LinkTransport.h: the socket to the message server and the four operations that carry
// frames over it: open link, send frame, receive frame, drop link.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "link/FrameFormat.h"
#include "link/Transport.h"
#include "platform/Socket.h"

namespace msglink {

struct LinkOptions
{
    // How long receive frame waits for the reply to start, and then for each further piece.
    int replyWaitMs = kReplyWaitMs;
    // Limit on one connect, so an unreachable server cannot hold the client thread.
    int connectTimeoutMs = kConnectTimeoutMs;
    // The first chunk size of a payload read (setting PacketSize); later chunks take the
    // socket's receive-buffer size.
    int packetSize = kDefaultPacketSize;
    // A larger declared payload length is a broken envelope.
    std::size_t maxPayloadLength = kMaxPayloadLength;
    // Run by dropLink after the link is marked down and before the socket is closed; the
    // client uses it to have the window advance its link activity indicator.
    std::function<void()> onDrop;
};

// Client thread only: no operation is safe to call from two threads at once. The transport owns
// its socket and closes it when dropped or destroyed.
class LinkTransport final : public Transport
{
public:
    explicit LinkTransport(LinkOptions options = {});
    ~LinkTransport() override;

    LinkTransport(const LinkTransport&) = delete;
    LinkTransport& operator=(const LinkTransport&) = delete;

    // Connects to a dotted IPv4 address (names are not looked up) within the connect limit and
    // sets TCP_NODELAY. A link still open is closed first (without the drop hook). On failure the
    // socket is closed and forgotten.
    bool openLink(const std::string& dottedAddress, std::uint16_t port) override;

    // Takes over a socket that is already connected (one end of a socket pair, in tests and
    // fuzzing) when no link is open. False, and the socket stays the caller's, when a link is
    // open or the handle is invalid.
    bool adoptSocket(platform::SocketHandle connected);

    // Wraps the payload in its envelope and writes it with one send call. False when there is no
    // link, the payload is above the limit, or the send reports an error (counting that is the
    // caller's business). A short write is not retried.
    bool sendFrame(const Bytes& payload) override;

    // Reads one frame: waits for readiness, makes one read of up to 21 bytes that must bring all
    // of them, checks the envelope, then reads the declared payload in pieces, each awaited
    // with the reply wait. On Ok, payload holds exactly the declared bytes; otherwise it is
    // empty and a partly received payload is never passed on. Memory grows with what actually
    // arrives, not with the declared length.
    ReceiveStatus receiveFrame(Bytes& payload) override;

    // Marks the link down, runs the drop hook, closes the socket. Safe to call when already down.
    void dropLink() override;

    bool isOpen() const override { return m_socket != platform::kInvalidSocket; }

    const std::string& failure() const override { return m_failure; }

    // The size payload pieces are read in: the connection's receive-buffer size.
    int chunkSize() const { return m_chunkSize; }

private:
    ReceiveStatus readPayload(Bytes& payload, std::size_t length);
    void learnChunkSize();

    LinkOptions m_options;
    platform::SocketHandle m_socket = platform::kInvalidSocket;
    int m_chunkSize;
    std::string m_failure;
};

} // namespace msglink
