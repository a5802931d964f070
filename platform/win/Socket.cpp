// platform/win/Socket.cpp: Winsock 2; what is the same on POSIX is in SocketCommon.cpp.
#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <type_traits>

#include "platform/SocketOs.h"
#include "platform/win/WideText.h"

namespace platform {

static_assert(std::is_same_v<SocketHandle, SOCKET>, "SocketHandle must hold a SOCKET");
static_assert(kInvalidSocket == INVALID_SOCKET);

namespace {

// Winsock is started once, by the first socket, and left running until the process ends.
bool startWinsock()
{
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

} // namespace

std::string lastSocketError()
{
    return os::socketErrorText(::WSAGetLastError());
}

SocketHandle createTcpSocket()
{
    if (!startWinsock())
        return kInvalidSocket;
    // Not inherited by child processes, as SOCK_CLOEXEC on POSIX.
    return ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

long sendOnce(SocketHandle s, const void* data, std::size_t count)
{
    // Windows has no SIGPIPE: a send to a closed peer simply fails.
    int ask = static_cast<int>(std::min<std::size_t>(count, 1u << 30));
    int n = ::send(s, static_cast<const char*>(data), ask, 0);
    return n == SOCKET_ERROR ? -1L : static_cast<long>(n);
}

void closeSocket(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::closesocket(s);
}

void raiseOpenFileLimit()
{
    // Nothing to raise: Windows counts no sockets against a limit per process.
}

namespace os {

std::string socketErrorText(int error)
{
    return win::systemMessage(static_cast<unsigned long>(error));
}

bool setBlocking(SocketHandle s, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

// select() rather than WSAPoll(): WSAPoll does not report a failed connect on older Windows.
// With one socket per call, the set's size limit does not matter. A connect that fails shows
// in the exception set, where Windows reports it.
WaitResult waitFor(SocketHandle s, Wait what, int timeoutMs)
{
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const bool forWrite = what == Wait::Write;
    int rc = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed,
                      timeoutMs < 0 ? nullptr : &limit);
    if (rc == SOCKET_ERROR)
        return WaitResult::Failed;
    return rc == 0 ? WaitResult::TimedOut : WaitResult::Readable;
}

SocketHandle acceptWaiting(SocketHandle listening, bool* peerGaveUp)
{
    SOCKET c = ::accept(listening, nullptr, nullptr);
    if (c == INVALID_SOCKET) {
        int e = ::WSAGetLastError();
        *peerGaveUp = e == WSAEWOULDBLOCK || e == WSAECONNRESET;
        return kInvalidSocket;
    }
    // A Windows socket takes its blocking mode from the listener; the callers expect blocking.
    if (!setBlocking(c, true)) {
        ::closesocket(c);
        return kInvalidSocket;
    }
    return c;
}

long receiveOnce(SocketHandle s, void* buffer, std::size_t count)
{
    int ask = static_cast<int>(std::min<std::size_t>(count, 1u << 30));
    int n = ::recv(s, static_cast<char*>(buffer), ask, 0);
    return n == SOCKET_ERROR ? -1L : static_cast<long>(n);
}

bool connectInProgress()
{
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}

} // namespace os

bool setSendTimeout(SocketHandle s, int timeoutMs)
{
    DWORD ms = static_cast<DWORD>(timeoutMs);
    return ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
                        sizeof ms) == 0;
}

} // namespace platform
