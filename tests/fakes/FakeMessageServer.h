// tests/fakes/FakeMessageServer.h: a message server on a free loopback port that records every
// frame it receives and answers each as its handler says. It is msgserver's serving core with the
// test's handler in place of msgserver's reply policy.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/FrameFormat.h"
#include "tools/msgserver/MessageServer.h"

namespace fakes {

struct ServerFrame
{
    std::uint32_t code = 0;
    std::int64_t number = 0;
    msglink::Bytes body;
    int connection = 0; // 1 for the first connection accepted, and so on

    std::string text() const { return std::string(body.begin(), body.end()); }
};

// Reply: bytes is the payload (wrapped in an envelope); Raw: bytes sent as they are; Silent:
// nothing sent; Close: the connection closed.
using ServerAnswer = msgserver::Reaction;

// A payload with the given code and body (number 0).
msglink::Bytes replyPayload(std::uint32_t code, const msglink::Bytes& body = {});
ServerAnswer answer(std::uint32_t code, const msglink::Bytes& body = {});
ServerAnswer closeConnection();
ServerAnswer silence();

// The usual server: login accepted for the module identification, a delivery confirmation for
// every data message, a poll reply for anything else.
ServerAnswer usualAnswer(const ServerFrame& frame);

class FakeMessageServer
{
public:
    using Handler = std::function<ServerAnswer(const ServerFrame&)>;

    // Listens on 127.0.0.1:port (0: a free one) and serves each connection on its own thread.
    explicit FakeMessageServer(Handler handler = usualAnswer, std::uint16_t port = 0);
    ~FakeMessageServer();

    std::uint16_t port() const { return m_port; }
    bool listening() const { return m_listening; }

    // Any thread; the handler runs on the server's thread.
    void setHandler(Handler handler);

    // Off: frames are only counted (for long runs).
    void setKeepFrames(bool keep) { m_keepFrames = keep; }
    std::size_t received() const { return m_received; }

    std::vector<ServerFrame> frames() const;
    std::vector<ServerFrame> framesWithCode(std::uint32_t code) const;
    int connections() const { return m_connections; }

    // Waits until pred(frames()) holds, at most waitMs.
    bool waitFor(const std::function<bool(const std::vector<ServerFrame>&)>& pred,
                 int waitMs = 5000) const;
    bool waitConnections(int n, int waitMs = 5000) const;
    // Waits until a frame with this body text has arrived (on that connection; 0: any). Frames
    // after it, such as a poll, do not hide it.
    bool waitForText(const std::string& text, int connection = 0, int waitMs = 5000) const;

private:
    // On the server's thread: records the frame and asks the handler.
    ServerAnswer handle(const msgserver::ReceivedFrame& received);

    std::unique_ptr<msgserver::MessageServer> m_server;
    std::uint16_t m_port = 0;
    bool m_listening = false;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<bool> m_keepFrames{true};
    std::atomic<std::size_t> m_received{0};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Handler m_handler;                 // guarded by m_mutex
    std::vector<ServerFrame> m_frames; // guarded by m_mutex
    std::thread m_thread;
};

} // namespace fakes
