// tools/msgserver/MessageServer.h: the test message server: listens, serves every gateway
// connection on a thread of its own (several gateways may be logged in at once) and answers
// every frame it receives with exactly one frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "tools/msgserver/ReplyPolicy.h"
#include "tools/msgserver/ServerOptions.h"

namespace msgserver {

// One frame as it arrived: the payload after the envelope, on the connection-th connection the
// server accepted (1 for the first).
struct ReceivedFrame
{
    std::uint64_t connection = 0;
    msglink::Bytes payload;
};

// What the server does after a frame.
struct Reaction
{
    enum class Kind
    {
        Reply,  // bytes is a payload; it goes out in an envelope
        Raw,    // bytes go out as they are
        Silent, // nothing is sent; the next frame is read
        Close   // the connection is closed without a reply
    } kind = Kind::Reply;
    msglink::Bytes bytes;
};

class MessageServer
{
public:
    struct Output
    {
        // The text of every data message received, in order. Runs on the serving thread.
        std::function<void(const std::string&)> message;
        // Connections and injected events, one line each; empty: none.
        std::function<void(const std::string&)> event;
        // The running number of each connection as it is accepted; empty: none.
        std::function<void(std::uint64_t)> accepted;
    };

    // Decides the reaction to each frame in place of the options' reply policy (counts, message
    // output, events and --delay are then the handler's business). Runs on the serving thread.
    using FrameHandler = std::function<Reaction(const ReceivedFrame&)>;

    MessageServer(ServerOptions options, Output output, FrameHandler handler = {});
    ~MessageServer();
    MessageServer(const MessageServer&) = delete;
    MessageServer& operator=(const MessageServer&) = delete;

    // Binds and listens. False when the address or port cannot be had.
    bool listen();
    // The port listened on (the chosen one when the options asked for port 0).
    std::uint16_t port() const { return m_port; }

    // Serves connections, each on its own thread, until stop is raised or the options' count of
    // data messages has arrived; then waits for every connection's thread. Blocks; stop is
    // looked at every options.waitSliceMs, and during --delay. The outputs are called from the
    // connections' threads, one call at a time.
    void run(const std::atomic<bool>& stop);

    // Any thread.
    Counts counts() const;

private:
    void serve(platform::SocketHandle s, std::uint64_t connection, const std::atomic<bool>& stop);
    // The options' reply policy: counts the frame, hands on a data message's text, waits --delay.
    Reaction usualReaction(const ReceivedFrame& frame, const std::atomic<bool>& stop);
    bool countReached() const;
    void say(const std::string& line) const;
    void serveThenClose(platform::SocketHandle s, std::uint64_t connection,
                        const std::atomic<bool>& stop);

    ServerOptions m_options;
    Output m_output;
    FrameHandler m_handler;
    platform::SocketHandle m_listen = platform::kInvalidSocket;
    std::uint16_t m_port = 0;
    mutable std::mutex m_mutex;
    std::int64_t m_number = 0;        // running number of the frames sent; guarded by m_mutex
    ReplyPolicy m_policy;             // guarded by m_mutex
    mutable std::mutex m_outputMutex; // one output call at a time
};

// Writes the port number and a newline to a file next to path, then renames it into place, so a
// reader never sees a half-written number. False when it cannot be written.
bool writePortFile(const std::string& path, std::uint16_t port);

// "connections N", "frames N", "logins N", "data messages N", "polls N", one per line.
std::string countsText(const Counts& counts);

// The line printed for a data message: its text, after "<stampUs> " when stamped (--stamp:
// microseconds on the monotonic clock when it arrived). No line end.
std::string messageLine(const std::string& text, std::optional<std::int64_t> stampUs);

} // namespace msgserver
