// tests/fakes/TrackerClient.cpp
#include "tests/fakes/TrackerClient.h"

#include <chrono>

namespace fakes {

std::uint16_t freeLoopbackPort()
{
    platform::SocketHandle s = platform::createTcpSocket();
    platform::bindLoopback(s, 0);
    std::uint16_t port = platform::localPort(s);
    platform::closeSocket(s);
    return port;
}

TrackerClient::TrackerClient(std::uint16_t port)
{
    m_socket = platform::createTcpSocket();
    if (m_socket != platform::kInvalidSocket &&
        !platform::connectWithTimeout(m_socket, "127.0.0.1", port, 2000)) {
        platform::closeSocket(m_socket);
        m_socket = platform::kInvalidSocket;
    }
}

TrackerClient::~TrackerClient()
{
    close();
}

void TrackerClient::close()
{
    platform::closeSocket(m_socket);
    m_socket = platform::kInvalidSocket;
}

bool TrackerClient::send(const Bytes& bytes)
{
    return platform::sendOnce(m_socket, bytes.data(), bytes.size()) ==
           static_cast<long>(bytes.size());
}

Bytes receiveFrom(platform::SocketHandle s, std::size_t count, int waitMs)
{
    Bytes out(count);
    std::size_t have = 0;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (have < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        until - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0 ||
            platform::waitReadable(s, static_cast<int>(left)) != platform::WaitResult::Readable)
            break;
        auto r = platform::recvOnce(s, out.data() + have, count - have);
        if (r.kind != platform::RecvResult::Kind::Data)
            break;
        have += r.bytes;
    }
    out.resize(have);
    return out;
}

Bytes TrackerClient::receive(std::size_t count, int waitMs)
{
    return receiveFrom(m_socket, count, waitMs);
}

bool TrackerClient::closedByPeer(int waitMs)
{
    if (platform::waitReadable(m_socket, waitMs) != platform::WaitResult::Readable)
        return false;
    std::uint8_t b;
    return platform::recvOnce(m_socket, &b, 1).kind != platform::RecvResult::Kind::Data;
}

} // namespace fakes
