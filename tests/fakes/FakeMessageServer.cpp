// tests/fakes/FakeMessageServer.cpp
#include "tests/fakes/FakeMessageServer.h"

#include <algorithm>
#include <chrono>

#include "link/Frames.h"

namespace fakes {

namespace {

// Waits are cut into slices this long, so a test's server stops quickly.
constexpr int kStopCheckMs = 20;

} // namespace

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
    msgserver::Answer a = msgserver::plainAnswer(frame.code);
    return answer(a.code, a.body);
}

FakeMessageServer::FakeMessageServer(Handler handler, std::uint16_t port)
    : m_handler(std::move(handler))
{
    msgserver::ServerOptions options;
    options.port = port;
    options.waitSliceMs = kStopCheckMs;
    msgserver::MessageServer::Output output;
    output.accepted = [this](std::uint64_t) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_connections;
        }
        m_changed.notify_all();
    };
    m_server = std::make_unique<msgserver::MessageServer>(
        options, output, [this](const msgserver::ReceivedFrame& f) { return handle(f); });
    m_listening = m_server->listen();
    m_port = m_server->port();
    m_thread = std::thread([this] { m_server->run(m_stop); });
}

FakeMessageServer::~FakeMessageServer()
{
    m_stop = true;
    m_thread.join();
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

ServerAnswer FakeMessageServer::handle(const msgserver::ReceivedFrame& received)
{
    const msglink::Bytes& payload = received.payload;
    if (payload.size() < msglink::kHeaderSize)
        return closeConnection(); // the gateway never sends one: a broken stream
    ServerFrame frame;
    frame.code = msglink::readU32(&payload[msglink::kHeaderCodeOffset]);
    frame.number = msglink::readI64(&payload[msglink::kHeaderNumberOffset]);
    frame.body.assign(payload.begin() + msglink::kHeaderSize, payload.end());
    frame.connection = static_cast<int>(received.connection);
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_keepFrames)
            m_frames.push_back(frame);
        handler = m_handler;
        ++m_received;
    }
    m_changed.notify_all();
    return handler(frame);
}

} // namespace fakes
