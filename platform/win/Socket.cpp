// platform/win/Socket.cpp: Winsock 2.
#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <type_traits>

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

std::string lastErrorText()
{
    return win::systemMessage(static_cast<unsigned long>(::WSAGetLastError()));
}

// The four numbers of a dotted IPv4 address, strictly: inet_pton's rules differ between
// systems (short forms, octal, leading zeros), and the address must mean the same everywhere.
bool parseDotted(std::string_view text, std::uint8_t out[4])
{
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.')
                return false;
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9')
            value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text.front() == '0'))
            return false;
        out[part] = static_cast<std::uint8_t>(value);
        text.remove_prefix(digits);
    }
    return text.empty();
}

bool bindTo(SocketHandle s, std::uint32_t hostOrderAddress, std::uint16_t port)
{
    // No SO_REUSEADDR: on Windows it would let a second listener take a port that is held.
    // Without it a restart still binds at once, past the old connections' TIME_WAIT.
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = ::htons(port);
    addr.sin_addr.s_addr = ::htonl(hostOrderAddress);
    return ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

bool setBlocking(SocketHandle s, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

enum class Ready
{
    Yes,
    TimedOut,
    Failed
};

// select() rather than WSAPoll(): WSAPoll does not report a failed connect on older Windows.
// With one socket per call, the set's size limit does not matter. A connect that fails shows
// in the exception set, where Windows reports it.
Ready waitFor(SocketHandle s, bool forWrite, int timeoutMs)
{
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int rc = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed,
                      timeoutMs < 0 ? nullptr : &limit);
    if (rc == SOCKET_ERROR)
        return Ready::Failed;
    return rc == 0 ? Ready::TimedOut : Ready::Yes;
}

} // namespace

std::string lastSocketError()
{
    return lastErrorText();
}

SocketHandle createTcpSocket()
{
    if (!startWinsock())
        return kInvalidSocket;
    // Not inherited by child processes, as SOCK_CLOEXEC on POSIX.
    return ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
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
    std::uint8_t b[4];
    if (!parseDotted(dottedAddress, b))
        return false;
    return bindTo(s,
                  (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                      (std::uint32_t{b[2]} << 8) | b[3],
                  port);
}

bool listenMax(SocketHandle s)
{
    // Non-blocking, so an accept after a connection was reset in the queue cannot hang.
    return ::listen(s, SOMAXCONN) == 0 && setBlocking(s, false);
}

std::uint16_t localPort(SocketHandle s)
{
    sockaddr_in addr{};
    int len = sizeof addr;
    if (::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return 0;
    return ::ntohs(addr.sin_port);
}

SocketHandle acceptConnection(SocketHandle listening, int timeoutMs, bool* timedOut)
{
    *timedOut = false;
    Ready r = waitFor(listening, false, timeoutMs);
    if (r == Ready::TimedOut) {
        *timedOut = true;
        return kInvalidSocket;
    }
    if (r == Ready::Failed)
        return kInvalidSocket;
    SOCKET c = ::accept(listening, nullptr, nullptr);
    if (c == INVALID_SOCKET) {
        int e = ::WSAGetLastError();
        *timedOut = e == WSAEWOULDBLOCK || e == WSAECONNRESET; // the peer gave up first
        return kInvalidSocket;
    }
    // A Windows socket takes its blocking mode from the listener; the callers expect blocking.
    if (!setBlocking(c, true)) {
        ::closesocket(c);
        return kInvalidSocket;
    }
    return c;
}

bool isDottedIPv4(std::string_view text)
{
    std::uint8_t bytes[4];
    return parseDotted(text, bytes);
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
    addr.sin_port = ::htons(port);
    std::uint8_t bytes[4];
    if (!parseDotted(dottedAddress, bytes))
        return fail("not a dotted IPv4 address");
    std::memcpy(&addr.sin_addr, bytes, sizeof bytes);
    if (!setBlocking(s, false))
        return fail("ioctlsocket: " + lastErrorText());
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return fail("connect: " + lastErrorText());
        Ready r = waitFor(s, true, timeoutMs);
        if (r == Ready::TimedOut)
            return fail("connect: no answer within " + std::to_string(timeoutMs) + " ms");
        if (r == Ready::Failed)
            return fail("select: " + lastErrorText());
        int err = 0;
        int len = sizeof err;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
            return fail("getsockopt: " + lastErrorText());
        if (err != 0)
            return fail("connect: " + win::systemMessage(static_cast<unsigned long>(err)));
    }
    if (!setBlocking(s, true))
        return fail("ioctlsocket: " + lastErrorText());
    return true;
}

WaitResult waitReadable(SocketHandle s, int timeoutMs)
{
    // End of stream and errors count as readable: the receive that follows reports them.
    switch (waitFor(s, false, timeoutMs)) {
    case Ready::Yes:
        return WaitResult::Readable;
    case Ready::TimedOut:
        return WaitResult::TimedOut;
    case Ready::Failed:
        break;
    }
    return WaitResult::Failed;
}

RecvResult recvOnce(SocketHandle s, void* buffer, std::size_t count)
{
    int ask = static_cast<int>(std::min<std::size_t>(count, 1u << 30));
    int n = ::recv(s, static_cast<char*>(buffer), ask, 0);
    if (n > 0)
        return {RecvResult::Kind::Data, static_cast<std::size_t>(n)};
    if (n == 0)
        return {RecvResult::Kind::Closed, 0};
    return {RecvResult::Kind::Failed, 0};
}

long sendOnce(SocketHandle s, const void* data, std::size_t count)
{
    // Windows has no SIGPIPE: a send to a closed peer simply fails.
    int ask = static_cast<int>(std::min<std::size_t>(count, 1u << 30));
    int n = ::send(s, static_cast<const char*>(data), ask, 0);
    return n == SOCKET_ERROR ? -1L : static_cast<long>(n);
}

void shutdownBoth(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::shutdown(s, SD_BOTH);
}

void closeSocket(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::closesocket(s);
}

std::optional<int> receiveBufferSize(SocketHandle s)
{
    int size = 0;
    int len = sizeof size;
    if (::getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &len) != 0)
        return std::nullopt;
    return size;
}

bool setSendTimeout(SocketHandle s, int timeoutMs)
{
    DWORD ms = static_cast<DWORD>(timeoutMs);
    return ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
                        sizeof ms) == 0;
}

bool setNoDelay(SocketHandle s)
{
    BOOL yes = TRUE;
    return ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes),
                        sizeof yes) == 0;
}

void raiseOpenFileLimit()
{
    // Nothing to raise: Windows counts no sockets against a limit per process.
}

} // namespace platform
