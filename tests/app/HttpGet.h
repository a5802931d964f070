// tests/app/HttpGet.h: one plain HTTP/1.0 GET (or any raw request) over loopback, for the
// metrics endpoint and its status page.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/Socket.h"

namespace fakes {

// Sends request as it is; the whole response (status line, headers and body), or "" when
// nothing answered in time.
inline std::string httpExchange(std::uint16_t port, const std::string& request, int waitMs = 5000)
{
    platform::SocketHandle s = platform::createTcpSocket();
    if (s == platform::kInvalidSocket)
        return {};
    std::string response;
    if (platform::connectWithTimeout(s, "127.0.0.1", port, waitMs) &&
        platform::sendOnce(s, request.data(), request.size()) ==
            static_cast<long>(request.size())) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        char buf[4096];
        while (std::chrono::steady_clock::now() < until &&
               platform::waitReadable(s, 100) != platform::WaitResult::Failed) {
            platform::RecvResult r = platform::recvOnce(s, buf, sizeof buf);
            if (r.kind != platform::RecvResult::Kind::Data)
                break; // HTTP/1.0: the server closes after the body
            response.append(buf, r.bytes);
        }
    }
    platform::closeSocket(s);
    return response;
}

inline std::string httpGet(std::uint16_t port, const std::string& path, int waitMs = 5000)
{
    return httpExchange(port, "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", waitMs);
}

// The value of the first sample line that begins with series ("name" or "name{labels}").
inline std::string sampleValue(const std::string& text, const std::string& series)
{
    std::size_t at = text.find("\n" + series + " ");
    if (at == std::string::npos)
        return "(absent)";
    std::size_t start = at + series.size() + 2;
    return text.substr(start, text.find('\n', start) - start);
}

} // namespace fakes
