// platform/SocketOs.h: the system's socket headers and the few socket calls each system makes
// its own way, private to the platform layer: Socket.cpp has them for POSIX, win/Socket.cpp for
// Windows, and SocketCommon.cpp writes the rest of platform/Socket.h over them once for both.
#pragma once

#include <cstddef>
#include <string>

#include "platform/Socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace platform::os {

#ifdef _WIN32
// No SO_REUSEADDR: on Windows it would let a second listener take a port that is held.
// Without it a restart still binds at once, past the old connections' TIME_WAIT.
inline constexpr bool kReuseAddress = false;
inline constexpr int kShutdownBoth = SD_BOTH;
// The system calls behind setBlocking and waitFor, as the failure texts name them.
inline constexpr const char* kSetBlockingCall = "ioctlsocket";
inline constexpr const char* kWaitCall = "select";
#else
inline constexpr bool kReuseAddress = true;
inline constexpr int kShutdownBoth = SHUT_RDWR;
inline constexpr const char* kSetBlockingCall = "fcntl";
inline constexpr const char* kWaitCall = "poll";
#endif

// The system's words for a socket error number, such as the one a failed connect leaves.
std::string socketErrorText(int error);

bool setBlocking(SocketHandle s, bool blocking);

enum class Wait
{
    Read, // a connection to accept, data, end of stream or an error
    Write // a connect that has ended, failed ones included
};

// Waits up to timeoutMs (negative: without limit); Readable when s is ready for what. Failed
// leaves the reason for lastSocketError.
WaitResult waitFor(SocketHandle s, Wait what, int timeoutMs);

// Accepts a connection that waitFor found waiting; the new socket is blocking. kInvalidSocket on
// failure, with *peerGaveUp set when the peer went before it was taken (nothing went wrong).
SocketHandle acceptWaiting(SocketHandle listening, bool* peerGaveUp);

// Exactly one receive of at most count bytes: how many came, 0 at the end of the stream, or -1
// on failure.
long receiveOnce(SocketHandle s, void* buffer, std::size_t count);

// Whether the connect that has just failed on a non-blocking socket goes on in the background.
bool connectInProgress();

} // namespace platform::os
