// tools/gt20sim/SocketTrackerLink.cpp
#include "tools/gt20sim/SocketTrackerLink.h"

namespace gt20sim {

SocketTrackerLink::SocketTrackerLink(std::string host, std::uint16_t port, int connectWaitMs)
    : m_host(std::move(host)), m_port(port), m_connectWaitMs(connectWaitMs)
{
}

SocketTrackerLink::~SocketTrackerLink()
{
    close();
}

bool SocketTrackerLink::connect()
{
    close();
    m_socket = platform::createTcpSocket();
    if (m_socket == platform::kInvalidSocket)
        return false;
    if (!platform::connectWithTimeout(m_socket, m_host, m_port, m_connectWaitMs)) {
        close();
        return false;
    }
    // Each packet goes out with one send; the gateway reads a body with one receive.
    platform::setNoDelay(m_socket);
    return true;
}

bool SocketTrackerLink::send(const std::vector<std::uint8_t>& bytes)
{
    return m_socket != platform::kInvalidSocket &&
           platform::sendOnce(m_socket, bytes.data(), bytes.size()) ==
               static_cast<long>(bytes.size());
}

LinkRead SocketTrackerLink::receive(std::uint8_t* buffer, std::size_t count, int waitMs)
{
    if (m_socket == platform::kInvalidSocket)
        return {LinkRead::Status::Closed, 0};
    switch (platform::waitReadable(m_socket, waitMs)) {
    case platform::WaitResult::TimedOut:
        return {LinkRead::Status::TimedOut, 0};
    case platform::WaitResult::Failed:
        return {LinkRead::Status::Closed, 0};
    case platform::WaitResult::Readable:
        break;
    }
    platform::RecvResult r = platform::recvOnce(m_socket, buffer, count);
    if (r.kind != platform::RecvResult::Kind::Data)
        return {LinkRead::Status::Closed, 0};
    return {LinkRead::Status::Data, r.bytes};
}

void SocketTrackerLink::close()
{
    platform::closeSocket(m_socket);
    m_socket = platform::kInvalidSocket;
}

SteadyPacer::SteadyPacer() : m_start(std::chrono::steady_clock::now()) {}

double SteadyPacer::nowMs() const
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start)
        .count();
}

bool SteadyPacer::sleepUntil(double ms)
{
    auto until = m_start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double, std::milli>(ms));
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_until(lock, until, [this] { return m_over.load(); });
    return !m_over;
}

void SteadyPacer::end()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_over = true;
    }
    m_wake.notify_all();
}

} // namespace gt20sim
