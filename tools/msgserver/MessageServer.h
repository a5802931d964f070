// tools/msgserver/MessageServer.h: the test message server: listens, serves one gateway
// connection at a time and answers every frame it receives with exactly one frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Socket.h"
#include "tools/msgserver/ReplyPolicy.h"
#include "tools/msgserver/ServerOptions.h"

namespace msgserver {

class MessageServer
{
public:
    struct Output
    {
        // The text of every data message received, in order. Runs on the serving thread.
        std::function<void(const std::string&)> message;
        // Connections and injected events, one line each; empty: none.
        std::function<void(const std::string&)> event;
    };

    MessageServer(ServerOptions options, Output output);
    ~MessageServer();
    MessageServer(const MessageServer&) = delete;
    MessageServer& operator=(const MessageServer&) = delete;

    // Binds and listens. False when the address or port cannot be had.
    bool listen();
    // The port listened on (the chosen one when the options asked for port 0).
    std::uint16_t port() const { return m_port; }

    // Serves connections one after the other until stop is raised or the options' count of data
    // messages has arrived. Blocks; stop is looked at least every 100 ms, and during --delay.
    void run(const std::atomic<bool>& stop);

    // Any thread.
    Counts counts() const;

private:
    void serve(platform::SocketHandle s, const std::atomic<bool>& stop);
    bool countReached() const;
    void say(const std::string& line) const;

    ServerOptions m_options;
    Output m_output;
    platform::SocketHandle m_listen = platform::kInvalidSocket;
    std::uint16_t m_port = 0;
    std::int64_t m_number = 0; // running number of the frames sent
    mutable std::mutex m_mutex;
    ReplyPolicy m_policy; // guarded by m_mutex
};

// Writes the port number and a newline to a file next to path, then renames it into place, so a
// reader never sees a half-written number. False when it cannot be written.
bool writePortFile(const std::string& path, std::uint16_t port);

// "connections N", "frames N", "logins N", "data messages N", "polls N", one per line.
std::string countsText(const Counts& counts);

} // namespace msgserver
