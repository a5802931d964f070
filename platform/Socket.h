// platform/Socket.h: the thin layer over TCP sockets; nothing else in the program calls the OS for
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// A socket as the OS numbers it; the day log shows it in decimal. On POSIX a descriptor; on
// Windows a Winsock SOCKET, an unsigned number as wide as a pointer.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;
#endif

enum class WaitResult
{
    Readable,
    TimedOut,
    Failed
};

// Outcome of one receive: bytes > 0 received, Closed when the peer ended the stream, Failed on
// error.
struct RecvResult
{
    enum class Kind
    {
        Data,
        Closed,
        Failed
    } kind;
    std::size_t bytes;
};

// The reason the calling thread's last failed socket call gave, as the system words it
// ("Address already in use"); read it right after the failure.
std::string lastSocketError();

// A new IPv4 TCP stream socket, or kInvalidSocket.
SocketHandle createTcpSocket();

// Binds to 0.0.0.0:port (0 = any free port). Sets address reuse so a restart does not wait
// for old connections to time out; a second listener on a held port still fails.
bool bindAny(SocketHandle s, std::uint16_t port);

// Binds to 127.0.0.1:port; for tests and tools that must stay on loopback.
bool bindLoopback(SocketHandle s, std::uint16_t port);

// Binds to a dotted IPv4 address ("0.0.0.0" for all) and port. False on a malformed address.
bool bindAddress(SocketHandle s, const std::string& dottedAddress, std::uint16_t port);

// Listens with the system's largest backlog.
bool listenMax(SocketHandle s);

// The local port a bound socket has, or 0.
std::uint16_t localPort(SocketHandle s);

// Waits up to timeoutMs for a connection and accepts it. Returns kInvalidSocket on time-out
// (timedOut set) or failure (timedOut clear).
SocketHandle acceptConnection(SocketHandle listening, int timeoutMs, bool* timedOut);

// For accept loops: as acceptConnection, and after a failed accept (out of descriptors or
// memory: the connection waits in the listen queue) a pause of pauseMs, so the loop cannot spin
// on it. kInvalidSocket on a time-out or after the pause.
SocketHandle acceptOrPause(SocketHandle listening, int timeoutMs, int pauseMs);

// Whether text is an IPv4 address as the link connects to it: four decimal numbers 0..255
// joined by dots ("192.168.0.10"); no names, no short forms, no leading zeros.
bool isDottedIPv4(std::string_view text);

// Connects to a dotted IPv4 address (no name lookup) within timeoutMs; the socket is left in
// blocking mode. False on a malformed address, refusal, error or time-out; then *failure, when
// given, says which in words ("connect: Connection refused").
bool connectWithTimeout(SocketHandle s, const std::string& dottedAddress, std::uint16_t port,
                        int timeoutMs, std::string* failure = nullptr);

// Waits until the socket is readable (data, end of stream or error), at most timeoutMs.
WaitResult waitReadable(SocketHandle s, int timeoutMs);

// Exactly one receive of at most count bytes.
RecvResult recvOnce(SocketHandle s, void* buffer, std::size_t count);

// Exactly one send call. Returns bytes written, or -1 on error. Never raises SIGPIPE.
long sendOnce(SocketHandle s, const void* data, std::size_t count);

// Ends both directions without releasing the handle; wakes a thread waiting on it.
void shutdownBoth(SocketHandle s);

void closeSocket(SocketHandle s);

// The socket's receive-buffer size (SO_RCVBUF), or nothing when the query fails.
std::optional<int> receiveBufferSize(SocketHandle s);

// A send that cannot go on for timeoutMs fails instead of waiting for the peer to read.
bool setSendTimeout(SocketHandle s, int timeoutMs);

// Sends small frames at once instead of coalescing them.
bool setNoDelay(SocketHandle s);

// Raises the soft limit on open descriptors to the hard limit; a busy gateway holds thousands.
// Windows has no such limit on sockets: there it does nothing.
void raiseOpenFileLimit();

} // namespace platform
