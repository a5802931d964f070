// tests/fakes/TrackerClient.h: a tracker's side of a loopback connection.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/Socket.h"
#include "tests/fakes/Packets.h"

namespace fakes {

class TrackerClient
{
public:
    // Connects to 127.0.0.1:port; connected() tells whether it worked.
    explicit TrackerClient(std::uint16_t port);
    ~TrackerClient();

    TrackerClient(const TrackerClient&) = delete;
    TrackerClient& operator=(const TrackerClient&) = delete;

    bool connected() const { return m_socket != platform::kInvalidSocket; }
    bool send(const Bytes& bytes);

    // Up to count bytes arriving within waitMs (gathering several reads); fewer on time-out.
    Bytes receive(std::size_t count, int waitMs = 2000);

    // True when the gateway closes the connection within waitMs (no bytes read before it).
    bool closedByPeer(int waitMs = 2000);

    void close();

private:
    platform::SocketHandle m_socket = platform::kInvalidSocket;
};

// Up to count bytes arriving on s within waitMs (gathering several reads); fewer on time-out or
// when the peer closes.
Bytes receiveFrom(platform::SocketHandle s, std::size_t count, int waitMs);

// A loopback port nothing listens on (free when asked; tests use it at once).
std::uint16_t freeLoopbackPort();

// Waits until pred() is true, at most waitMs; returns its last value.
template <typename Pred> bool eventually(Pred pred, int waitMs = 3000);

} // namespace fakes

#include <chrono>
#include <thread>

template <typename Pred> bool fakes::eventually(Pred pred, int waitMs)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
