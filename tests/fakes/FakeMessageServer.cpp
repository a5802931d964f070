// tests/fakes/FakeMessageServer.cpp
#include "tests/fakes/FakeMessageServer.h"

#include <algorithm>
#include <chrono>

#include "link/Frames.h"

namespace fakes {

using msglink::Bytes;

msglink::Bytes replyPayload(std::uint32_t code, const msglink::Bytes& body)
{
    return msglink::makePayload(code, body, 0);
}

ServerAnswer answer(std::uint32_t code, const msglink::Bytes& body)
{
    return {ServerAnswer::Kind::Reply, replyPayload(code, body)};
}

ServerAnswer closeConnection()
{
    return {ServerAnswer::Kind::Close, {}};
}
ServerAnswer silence()
{
    return {ServerAnswer::Kind::Silent, {}};
}

ServerAnswer usualAnswer(const ServerFrame& frame)
{
    switch (frame.code) {
    case msglink::kModuleIdentification:
        return answer(msglink::kLoginAccepted);
    case msglink::kDataMessage:
        return answer(0x03000003);
    default:
        return answer(msglink::kPollReply, {0});
    }
}

FakeMessageServer::FakeMessageServer(Handler handler, std::uint16_t port)
    : m_handler(std::move(handler))
{
    m_listen = platform::createTcpSocket();
    m_listening = platform::bindLoopback(m_listen, port) && platform::listenMax(m_listen);
    m_port = platform::localPort(m_listen);
    m_thread = std::thread([this] { run(); });
}

FakeMessageServer::~FakeMessageServer()
{
    m_stop = true;
    m_thread.join();
    platform::closeSocket(m_listen);
}

void FakeMessageServer::setHandler(Handler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

std::vector<ServerFrame> FakeMessageServer::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

std::vector<ServerFrame> FakeMessageServer::framesWithCode(std::uint32_t code) const
{
    std::vector<ServerFrame> out;
    for (auto& f : frames())
        if (f.code == code)
            out.push_back(f);
    return out;
}

bool FakeMessageServer::waitFor(const std::function<bool(const std::vector<ServerFrame>&)>& pred,
                                int waitMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                              [&] { return pred(m_frames); });
}

bool FakeMessageServer::waitConnections(int n, int waitMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(waitMs),
                              [&] { return m_connections >= n; });
}

bool FakeMessageServer::waitForText(const std::string& text, int connection, int waitMs) const
{
    return waitFor(
        [&](const std::vector<ServerFrame>& frames) {
            return std::any_of(frames.begin(), frames.end(), [&](const ServerFrame& f) {
                return f.text() == text && (connection == 0 || f.connection == connection);
            });
        },
        waitMs);
}

void FakeMessageServer::run()
{
    while (!m_stop && m_listening) {
        bool timedOut = false;
        platform::SocketHandle s = platform::acceptConnection(m_listen, 20, &timedOut);
        if (s == platform::kInvalidSocket)
            continue;
        int connection = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            connection = ++m_connections;
        }
        m_changed.notify_all();
        serve(s, connection);
        platform::closeSocket(s);
    }
}

namespace {

// Reads exactly count bytes; false on close, error or stop.
bool readExactly(platform::SocketHandle s, std::uint8_t* out, std::size_t count,
                 const std::atomic<bool>& stop)
{
    std::size_t have = 0;
    while (have < count) {
        if (stop)
            return false;
        auto w = platform::waitReadable(s, 20);
        if (w == platform::WaitResult::TimedOut)
            continue;
        if (w == platform::WaitResult::Failed)
            return false;
        auto r = platform::recvOnce(s, out + have, count - have);
        if (r.kind != platform::RecvResult::Kind::Data)
            return false;
        have += r.bytes;
    }
    return true;
}

} // namespace

void FakeMessageServer::serve(platform::SocketHandle s, int connection)
{
    for (;;) {
        std::uint8_t envelope[msglink::kEnvelopeSize];
        if (!readExactly(s, envelope, sizeof envelope, m_stop))
            return;
        std::int32_t length = msglink::readI32(envelope + msglink::kEnvelopeLengthOffset);
        if (length < static_cast<std::int32_t>(msglink::kHeaderSize) || length > (1 << 24))
            return;
        Bytes payload(static_cast<std::size_t>(length));
        if (!readExactly(s, payload.data(), payload.size(), m_stop))
            return;
        ServerFrame frame;
        frame.code = msglink::readU32(&payload[msglink::kHeaderCodeOffset]);
        frame.number = msglink::readI64(&payload[msglink::kHeaderNumberOffset]);
        frame.body.assign(payload.begin() + msglink::kHeaderSize, payload.end());
        frame.connection = connection;
        Handler handler;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_keepFrames)
                m_frames.push_back(frame);
            handler = m_handler;
            ++m_received;
        }
        m_changed.notify_all();
        ServerAnswer a = handler(frame);
        switch (a.kind) {
        case ServerAnswer::Kind::Reply: {
            Bytes wire = msglink::wrapInEnvelope(a.bytes);
            platform::sendOnce(s, wire.data(), wire.size());
            break;
        }
        case ServerAnswer::Kind::Raw:
            platform::sendOnce(s, a.bytes.data(), a.bytes.size());
            break;
        case ServerAnswer::Kind::Silent:
            break;
        case ServerAnswer::Kind::Close:
            return;
        }
    }
}

} // namespace fakes
