// platform/Socket.cpp: POSIX sockets.
#include "platform/Socket.h"

#include <cstring>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {

namespace {

bool bindTo(SocketHandle s, std::uint32_t hostOrderAddress, std::uint16_t port)
{
    int yes = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(hostOrderAddress);
    return ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

// poll() rather than select(): select cannot take descriptors above 1023.
int pollOne(SocketHandle s, short events, int timeoutMs, short* revents)
{
    pollfd p{s, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    *revents = p.revents;
    return rc;
}

bool setBlocking(SocketHandle s, bool blocking)
{
    int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(s, F_SETFL, flags) == 0;
}

} // namespace

std::string lastSocketError()
{
    return std::strerror(errno);
}

SocketHandle createTcpSocket()
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return s < 0 ? kInvalidSocket : s;
}

bool bindAny(SocketHandle s, std::uint16_t port)
{
    return bindTo(s, INADDR_ANY, port);
}

bool bindLoopback(SocketHandle s, std::uint16_t port)
{
    return bindTo(s, INADDR_LOOPBACK, port);
}

bool bindAddress(SocketHandle s, const std::string& dottedAddress, std::uint16_t port)
{
    in_addr addr{};
    if (::inet_pton(AF_INET, dottedAddress.c_str(), &addr) != 1)
        return false;
    return bindTo(s, ntohl(addr.s_addr), port);
}

bool listenMax(SocketHandle s)
{
    // Non-blocking, so an accept after a connection was reset in the queue cannot hang.
    return ::listen(s, SOMAXCONN) == 0 && setBlocking(s, false);
}

std::uint16_t localPort(SocketHandle s)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ntohs(addr.sin_port);
}

SocketHandle acceptConnection(SocketHandle listening, int timeoutMs, bool* timedOut)
{
    *timedOut = false;
    short revents = 0;
    int rc = pollOne(listening, POLLIN, timeoutMs, &revents);
    if (rc == 0) {
        *timedOut = true;
        return kInvalidSocket;
    }
    if (rc < 0)
        return kInvalidSocket;
    int c = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        *timedOut = true; // the peer gave up before we took it: nothing went wrong
        return kInvalidSocket;
    }
    return c < 0 ? kInvalidSocket : c;
}

bool isDottedIPv4(std::string_view text)
{
    in_addr addr{};
    return ::inet_pton(AF_INET, std::string(text).c_str(), &addr) == 1;
}

bool connectWithTimeout(SocketHandle s, const std::string& dottedAddress, std::uint16_t port,
                        int timeoutMs, std::string* failure)
{
    auto fail = [failure](std::string why) {
        if (failure)
            *failure = std::move(why);
        return false;
    };
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, dottedAddress.c_str(), &addr.sin_addr) != 1)
        return fail("not a dotted IPv4 address");
    if (!setBlocking(s, false))
        return fail("fcntl: " + lastSocketError());
    int rc = ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (rc != 0) {
        if (errno != EINPROGRESS)
            return fail("connect: " + lastSocketError());
        short revents = 0;
        rc = pollOne(s, POLLOUT, timeoutMs, &revents);
        if (rc == 0)
            return fail("connect: no answer within " + std::to_string(timeoutMs) + " ms");
        if (rc < 0)
            return fail("poll: " + lastSocketError());
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            return fail("getsockopt: " + lastSocketError());
        if (err != 0)
            return fail(std::string("connect: ") + std::strerror(err));
    }
    if (!setBlocking(s, true))
        return fail("fcntl: " + lastSocketError());
    return true;
}

WaitResult waitReadable(SocketHandle s, int timeoutMs)
{
    short revents = 0;
    int rc = pollOne(s, POLLIN, timeoutMs, &revents);
    if (rc == 0)
        return WaitResult::TimedOut;
    if (rc < 0 || (revents & POLLNVAL))
        return WaitResult::Failed;
    // End of stream and errors count as readable: the receive that follows reports them.
    return WaitResult::Readable;
}

RecvResult recvOnce(SocketHandle s, void* buffer, std::size_t count)
{
    ssize_t n;
    do {
        n = ::recv(s, buffer, count, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0)
        return {RecvResult::Kind::Data, static_cast<std::size_t>(n)};
    if (n == 0)
        return {RecvResult::Kind::Closed, 0};
    return {RecvResult::Kind::Failed, 0};
}

long sendOnce(SocketHandle s, const void* data, std::size_t count)
{
    ssize_t n;
    do {
        n = ::send(s, data, count, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

void shutdownBoth(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::shutdown(s, SHUT_RDWR);
}

void closeSocket(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::close(s);
}

std::optional<int> receiveBufferSize(SocketHandle s)
{
    int size = 0;
    socklen_t len = sizeof size;
    if (::getsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, &len) != 0)
        return std::nullopt;
    return size;
}

bool setSendTimeout(SocketHandle s, int timeoutMs)
{
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    return ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool setNoDelay(SocketHandle s)
{
    int yes = 1;
    return ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes) == 0;
}

void raiseOpenFileLimit()
{
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
}

} // namespace platform
