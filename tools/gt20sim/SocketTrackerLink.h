// tools/gt20sim/SocketTrackerLink.h: a simulated tracker's TCP connection, and the run clock
// that real runs use.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/Socket.h"
#include "tools/gt20sim/TrackerLink.h"

namespace gt20sim {

class SocketTrackerLink final : public TrackerLink
{
public:
    // connectWaitMs limits each connect, so an unreachable address cannot hold the tracker.
    SocketTrackerLink(std::string host, std::uint16_t port, int connectWaitMs);
    ~SocketTrackerLink() override;

    bool connect() override;
    bool send(const std::vector<std::uint8_t>& bytes) override;
    LinkRead receive(std::uint8_t* buffer, std::size_t count, int waitMs) override;
    void close() override;

private:
    std::string m_host;
    std::uint16_t m_port;
    int m_connectWaitMs;
    platform::SocketHandle m_socket = platform::kInvalidSocket;
};

// The steady clock from construction; end() wakes every sleeping tracker at once.
class SteadyPacer final : public Pacer
{
public:
    SteadyPacer();

    double nowMs() const override;
    bool sleepUntil(double ms) override;
    bool runOver() const override { return m_over; }

    // Any thread. Ends the run.
    void end();

private:
    const std::chrono::steady_clock::time_point m_start;
    std::atomic<bool> m_over{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
};

} // namespace gt20sim
