// platform/HttpServer.cpp
#include "platform/HttpServer.h"

#include <algorithm>
#include <chrono>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kDrainBytes = 65536;
constexpr std::chrono::milliseconds kDrainTime{500};

const char* reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Internal Server Error";
    }
}

bool isToken(std::string_view s)
{
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

int msLeft(Clock::time_point until)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

} // namespace

HttpResponse plainAnswer(int status)
{
    return {status, "text/plain; charset=utf-8", std::string(reasonPhrase(status)) + "\n", {}};
}

RequestHead parseRequestHead(std::string_view received, std::size_t limit, HttpRequest* request)
{
    const std::string_view seen = received.substr(0, limit);
    std::size_t end = seen.find("\r\n\r\n");
    if (end == std::string_view::npos)
        end = seen.find("\n\n");
    if (end == std::string_view::npos)
        return received.size() >= limit ? RequestHead::TooLarge : RequestHead::NeedMore;

    std::string_view line = seen.substr(0, seen.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    const std::size_t firstBlank = line.find(' ');
    const std::size_t lastBlank = line.rfind(' ');
    if (firstBlank == std::string_view::npos || lastBlank == firstBlank)
        return RequestHead::Malformed;
    const std::string_view method = line.substr(0, firstBlank);
    const std::string_view target = line.substr(firstBlank + 1, lastBlank - firstBlank - 1);
    const std::string_view version = line.substr(lastBlank + 1);
    if (!isToken(method) || target.empty() || target.front() != '/' ||
        target.find(' ') != std::string_view::npos || version.substr(0, 7) != "HTTP/1.")
        return RequestHead::Malformed;
    request->method = std::string(method);
    request->path = std::string(target.substr(0, target.find_first_of("?#")));
    return RequestHead::Complete;
}

std::string responseText(const HttpResponse& response)
{
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.empty())
        text += "Content-Type: " + response.contentType + "\r\n";
    if (!response.allow.empty())
        text += "Allow: " + response.allow + "\r\n";
    text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    text +=
        "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
    text += response.body;
    return text;
}

HttpServer::HttpServer(Handler handler, HttpServerOptions options)
    : m_handler(std::move(handler)), m_options(options)
{
}

HttpServer::~HttpServer()
{
    stop();
}

bool HttpServer::start(const std::string& dottedAddress, std::uint16_t port, std::string* failure)
{
    m_listening = createTcpSocket();
    std::string why;
    if (m_listening == kInvalidSocket)
        why = "socket: " + lastSocketError();
    else if (!bindAddress(m_listening, dottedAddress, port))
        why = "bind: " + lastSocketError();
    else if (!listenMax(m_listening))
        why = "listen: " + lastSocketError();
    else if (!m_thread.start([this] { serve(); }))
        why = "no thread for the server";
    if (why.empty()) {
        m_port = localPort(m_listening);
        return true;
    }
    if (failure)
        *failure = why;
    if (m_listening != kInvalidSocket)
        closeSocket(m_listening);
    m_listening = kInvalidSocket;
    return false;
}

void HttpServer::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_listening != kInvalidSocket)
        closeSocket(m_listening);
    m_listening = kInvalidSocket;
}

void HttpServer::serve()
{
    while (!m_stop) {
        SocketHandle connection =
            acceptOrPause(m_listening, m_options.stopCheckMs, m_options.stopCheckMs);
        if (connection == kInvalidSocket)
            continue;
        try {
            answer(connection);
        } catch (...) {
            // Out of memory while building a page: this answer is lost, the next one is served.
        }
        closeSocket(connection);
    }
}

void HttpServer::answer(SocketHandle connection)
{
    const Clock::time_point until =
        Clock::now() + std::chrono::milliseconds(m_options.readTimeoutMs);
    std::string received;
    HttpRequest request;
    RequestHead head = RequestHead::NeedMore;
    char buffer[4096];
    while (head == RequestHead::NeedMore) {
        const int left = msLeft(until);
        if (left == 0) {
            sendWithin(connection, responseText(plainAnswer(408)));
            return;
        }
        const WaitResult ready = waitReadable(connection, left);
        if (ready == WaitResult::Failed)
            return;
        if (ready == WaitResult::TimedOut)
            continue; // answered 408 above
        const RecvResult r = recvOnce(connection, buffer, sizeof buffer);
        if (r.kind != RecvResult::Kind::Data)
            return; // the client went away
        received.append(buffer, r.bytes);
        head = parseRequestHead(received, m_options.maxRequestBytes, &request);
    }
    if (head == RequestHead::Complete) {
        sendWithin(connection, responseText(m_handler(request)));
        return;
    }
    if (!sendWithin(connection,
                    responseText(plainAnswer(head == RequestHead::TooLarge ? 431 : 400))))
        return;
    // Closing with unread bytes resets the connection, and a reset can destroy the answer
    // before the client reads it: take in what it is still sending, bounded in bytes and time.
    const Clock::time_point drainUntil = Clock::now() + kDrainTime;
    for (std::size_t drained = 0; drained < kDrainBytes;) {
        const int left = std::min(msLeft(drainUntil), 100);
        if (left == 0 || waitReadable(connection, left) != WaitResult::Readable)
            break;
        const RecvResult r = recvOnce(connection, buffer, sizeof buffer);
        if (r.kind != RecvResult::Kind::Data)
            break;
        drained += r.bytes;
    }
}

bool HttpServer::sendWithin(SocketHandle connection, const std::string& bytes)
{
    const Clock::time_point until =
        Clock::now() + std::chrono::milliseconds(m_options.sendTimeoutMs);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int left = msLeft(until);
        if (left == 0 || !setSendTimeout(connection, left))
            return false;
        const long n = sendOnce(connection, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace platform
