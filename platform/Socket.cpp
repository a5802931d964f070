// platform/Socket.cpp: POSIX sockets; what is the same on Windows is in SocketCommon.cpp.
#include "platform/Socket.h"

#include "platform/SocketOs.h"

#include <cstring>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {

std::string lastSocketError()
{
    return std::strerror(errno);
}

SocketHandle createTcpSocket()
{
    int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return s < 0 ? kInvalidSocket : s;
}

long sendOnce(SocketHandle s, const void* data, std::size_t count)
{
    ssize_t n;
    do {
        n = ::send(s, data, count, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

void closeSocket(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::close(s);
}

void raiseOpenFileLimit()
{
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
    }
}

namespace os {

std::string socketErrorText(int error)
{
    return std::strerror(error);
}

bool setBlocking(SocketHandle s, bool blocking)
{
    int flags = ::fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return false;
    flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
    return ::fcntl(s, F_SETFL, flags) == 0;
}

// poll() rather than select(): select cannot take descriptors above 1023.
WaitResult waitFor(SocketHandle s, Wait what, int timeoutMs)
{
    pollfd p{s, static_cast<short>(what == Wait::Read ? POLLIN : POLLOUT), 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    if (rc == 0)
        return WaitResult::TimedOut;
    if (rc < 0)
        return WaitResult::Failed;
    if (p.revents & POLLNVAL) {
        errno = EBADF; // not an open descriptor
        return WaitResult::Failed;
    }
    return WaitResult::Readable;
}

SocketHandle acceptWaiting(SocketHandle listening, bool* peerGaveUp)
{
    int c = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        *peerGaveUp = true;
    return c < 0 ? kInvalidSocket : c;
}

long receiveOnce(SocketHandle s, void* buffer, std::size_t count)
{
    ssize_t n;
    do {
        n = ::recv(s, buffer, count, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool connectInProgress()
{
    return errno == EINPROGRESS;
}

} // namespace os

bool setSendTimeout(SocketHandle s, int timeoutMs)
{
    timeval tv{};
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    return ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

} // namespace platform
