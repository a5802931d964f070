// platform/SocketCommon.cpp: the part of the socket layer that is the same on every system,
// written over the calls in platform/SocketOs.h.
#include "platform/Socket.h"

#include <chrono>
#include <thread>
#include <utility>

#include "platform/SocketOs.h"

namespace platform {

namespace {

constexpr std::uint32_t kAnyAddress = 0x0000'0000;      // 0.0.0.0
constexpr std::uint32_t kLoopbackAddress = 0x7F00'0001; // 127.0.0.1

// The address a dotted IPv4 address names, in host order, strictly: inet_pton's rules differ
// between systems (short forms, octal, leading zeros), and the address must mean the same
// everywhere.
std::optional<std::uint32_t> parseDotted(std::string_view text)
{
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.')
                return std::nullopt;
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9')
            value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text.front() == '0'))
            return std::nullopt;
        address = (address << 8) | value;
        text.remove_prefix(digits);
    }
    if (!text.empty())
        return std::nullopt;
    return address;
}

sockaddr_in ipv4(std::uint32_t hostOrderAddress, std::uint16_t port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(hostOrderAddress);
    return addr;
}

bool bindTo(SocketHandle s, std::uint32_t hostOrderAddress, std::uint16_t port)
{
    if (os::kReuseAddress) {
        // A restart binds at once instead of waiting for the old connections' TIME_WAIT.
        int yes = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes),
                     sizeof yes);
    }
    sockaddr_in addr = ipv4(hostOrderAddress, port);
    return ::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

// An int socket option; nothing when the query fails.
std::optional<int> intOption(SocketHandle s, int level, int name)
{
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(s, level, name, reinterpret_cast<char*>(&value), &len) != 0)
        return std::nullopt;
    return value;
}

// Waits for a connect in progress to end; nothing when it connected, else why not.
std::optional<std::string> finishConnect(SocketHandle s, int timeoutMs)
{
    const WaitResult ready = os::waitFor(s, os::Wait::Write, timeoutMs);
    if (ready == WaitResult::TimedOut)
        return "connect: no answer within " + std::to_string(timeoutMs) + " ms";
    if (ready == WaitResult::Failed)
        return std::string(os::kWaitCall) + ": " + lastSocketError();
    std::optional<int> error = intOption(s, SOL_SOCKET, SO_ERROR);
    if (!error)
        return "getsockopt: " + lastSocketError();
    if (*error != 0)
        return "connect: " + os::socketErrorText(*error);
    return std::nullopt;
}

} // namespace

bool bindAny(SocketHandle s, std::uint16_t port)
{
    return bindTo(s, kAnyAddress, port);
}

bool bindLoopback(SocketHandle s, std::uint16_t port)
{
    return bindTo(s, kLoopbackAddress, port);
}

bool bindAddress(SocketHandle s, const std::string& dottedAddress, std::uint16_t port)
{
    std::optional<std::uint32_t> address = parseDotted(dottedAddress);
    return address && bindTo(s, *address, port);
}

bool listenMax(SocketHandle s)
{
    // Non-blocking, so an accept after a connection was reset in the queue cannot hang.
    return ::listen(s, SOMAXCONN) == 0 && os::setBlocking(s, false);
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
    const WaitResult ready = os::waitFor(listening, os::Wait::Read, timeoutMs);
    if (ready != WaitResult::Readable) {
        *timedOut = ready == WaitResult::TimedOut;
        return kInvalidSocket;
    }
    // A peer that gave up before we took its connection is a time-out: nothing went wrong.
    return os::acceptWaiting(listening, timedOut);
}

bool isDottedIPv4(std::string_view text)
{
    return parseDotted(text).has_value();
}

bool connectWithTimeout(SocketHandle s, const std::string& dottedAddress, std::uint16_t port,
                        int timeoutMs, std::string* failure)
{
    auto fail = [failure](std::string why) {
        if (failure)
            *failure = std::move(why);
        return false;
    };
    std::optional<std::uint32_t> address = parseDotted(dottedAddress);
    if (!address)
        return fail("not a dotted IPv4 address");
    const std::string setBlockingCall = std::string(os::kSetBlockingCall) + ": ";
    if (!os::setBlocking(s, false))
        return fail(setBlockingCall + lastSocketError());
    sockaddr_in addr = ipv4(*address, port);
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (!os::connectInProgress())
            return fail("connect: " + lastSocketError());
        if (std::optional<std::string> why = finishConnect(s, timeoutMs))
            return fail(std::move(*why));
    }
    if (!os::setBlocking(s, true))
        return fail(setBlockingCall + lastSocketError());
    return true;
}

WaitResult waitReadable(SocketHandle s, int timeoutMs)
{
    // End of stream and errors count as readable: the receive that follows reports them.
    return os::waitFor(s, os::Wait::Read, timeoutMs);
}

RecvResult recvOnce(SocketHandle s, void* buffer, std::size_t count)
{
    long n = os::receiveOnce(s, buffer, count);
    if (n > 0)
        return {RecvResult::Kind::Data, static_cast<std::size_t>(n)};
    if (n == 0)
        return {RecvResult::Kind::Closed, 0};
    return {RecvResult::Kind::Failed, 0};
}

void shutdownBoth(SocketHandle s)
{
    if (s != kInvalidSocket)
        ::shutdown(s, os::kShutdownBoth);
}

std::optional<int> receiveBufferSize(SocketHandle s)
{
    return intOption(s, SOL_SOCKET, SO_RCVBUF);
}

bool setNoDelay(SocketHandle s)
{
    int yes = 1;
    return ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes),
                        sizeof yes) == 0;
}

SocketHandle acceptOrPause(SocketHandle listening, int timeoutMs, int pauseMs)
{
    bool timedOut = false;
    SocketHandle c = acceptConnection(listening, timeoutMs, &timedOut);
    if (c == kInvalidSocket && !timedOut)
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    return c;
}

} // namespace platform
