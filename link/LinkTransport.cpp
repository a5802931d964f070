// link/LinkTransport.cpp
#include "link/LinkTransport.h"

#include <algorithm>
#include <array>

#include "link/Frames.h"

namespace msglink {

namespace {

// A chunk size of 0 or less would ask for nothing and never finish a payload.
int usableChunk(int size)
{
    return size > 0 ? size : kDefaultPacketSize;
}

ReceiveStatus waitFor(platform::SocketHandle s, int waitMs)
{
    switch (platform::waitReadable(s, waitMs)) {
    case platform::WaitResult::Readable:
        return ReceiveStatus::Ok;
    case platform::WaitResult::TimedOut:
        return ReceiveStatus::TimedOut;
    case platform::WaitResult::Failed:
        break;
    }
    return ReceiveStatus::WaitFailed;
}

ReceiveStatus statusOf(const platform::RecvResult& r)
{
    if (r.kind == platform::RecvResult::Kind::Closed)
        return ReceiveStatus::Closed;
    if (r.kind == platform::RecvResult::Kind::Failed)
        return ReceiveStatus::ReadFailed;
    return ReceiveStatus::Ok;
}

} // namespace

LinkTransport::LinkTransport(LinkOptions options)
    : m_options(std::move(options)), m_chunkSize(usableChunk(m_options.packetSize))
{
}

LinkTransport::~LinkTransport()
{
    platform::closeSocket(m_socket);
}

bool LinkTransport::openLink(const std::string& dottedAddress, std::uint16_t port)
{
    platform::closeSocket(m_socket);
    m_failure.clear();
    m_socket = platform::createTcpSocket();
    if (m_socket == platform::kInvalidSocket) {
        m_failure = "socket: " + platform::lastSocketError();
        return false;
    }
    if (!platform::connectWithTimeout(m_socket, dottedAddress, port, m_options.connectTimeoutMs,
                                      &m_failure)) {
        platform::closeSocket(m_socket);
        m_socket = platform::kInvalidSocket;
        return false;
    }
    // Every frame is one request awaiting one reply; coalescing would only delay it.
    platform::setNoDelay(m_socket);
    learnChunkSize();
    return true;
}

// Payload pieces are read in receive-buffer sizes. The size is asked once a connection: it does
// not change while the socket lives, and asking before every piece cost a system call a reply.
// When the query fails the previous size stays in force.
void LinkTransport::learnChunkSize()
{
    if (auto rcvbuf = platform::receiveBufferSize(m_socket); rcvbuf && *rcvbuf > 0)
        m_chunkSize = *rcvbuf;
}

bool LinkTransport::adoptSocket(platform::SocketHandle connected)
{
    if (isOpen() || connected == platform::kInvalidSocket)
        return false;
    m_failure.clear();
    m_socket = connected;
    learnChunkSize();
    return true;
}

bool LinkTransport::sendFrame(const Bytes& payload)
{
    if (!isOpen() || payload.size() > m_options.maxPayloadLength)
        return false;
    Bytes wire = wrapInEnvelope(payload);
    return platform::sendOnce(m_socket, wire.data(), wire.size()) >= 0;
}

ReceiveStatus LinkTransport::receiveFrame(Bytes& payload)
{
    payload.clear();
    if (!isOpen())
        return ReceiveStatus::NotOpen;
    ReceiveStatus s = waitFor(m_socket, m_options.replyWaitMs);
    if (s != ReceiveStatus::Ok)
        return s;

    // One read for the envelope; a short one is not topped up, its bytes are discarded.
    std::array<std::uint8_t, kEnvelopeSize> envelope{};
    platform::RecvResult r = platform::recvOnce(m_socket, envelope.data(), envelope.size());
    if ((s = statusOf(r)) != ReceiveStatus::Ok)
        return s;
    if (r.bytes < kEnvelopeSize)
        return ReceiveStatus::ShortEnvelope;
    if (envelope[0] != kEnvelopeMarker && envelope[0] != kEnvelopeMarkerAlt)
        return ReceiveStatus::BadMarker;

    std::int32_t length = readI32(&envelope[kEnvelopeLengthOffset]);
    if (length <= 0)
        return ReceiveStatus::EmptyPayload;
    if (static_cast<std::size_t>(length) > m_options.maxPayloadLength)
        return ReceiveStatus::Oversized;
    s = readPayload(payload, static_cast<std::size_t>(length));
    if (s != ReceiveStatus::Ok)
        payload.clear();
    return s;
}

ReceiveStatus LinkTransport::readPayload(Bytes& payload, std::size_t length)
{
    while (payload.size() < length) {
        std::size_t want = std::min(static_cast<std::size_t>(m_chunkSize), length - payload.size());
        ReceiveStatus s = waitFor(m_socket, m_options.replyWaitMs);
        if (s != ReceiveStatus::Ok)
            return s;
        std::size_t have = payload.size();
        payload.resize(have + want);
        platform::RecvResult r = platform::recvOnce(m_socket, payload.data() + have, want);
        if ((s = statusOf(r)) != ReceiveStatus::Ok)
            return s;
        payload.resize(have + r.bytes);
    }
    return ReceiveStatus::Ok;
}

void LinkTransport::dropLink()
{
    platform::SocketHandle s = m_socket;
    m_socket = platform::kInvalidSocket;
    if (m_options.onDrop)
        m_options.onDrop();
    platform::closeSocket(s);
}

} // namespace msglink
