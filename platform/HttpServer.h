// platform/HttpServer.h: a small HTTP/1.1 server for read-only pages: one request per
// connection (Connection: close), connections served one after another on the server's own
// thread, each bounded in size and time so that no client can hold it for long.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Socket.h"
#include "platform/Thread.h"

namespace platform {

struct HttpRequest
{
    std::string method; // "GET"
    std::string path;   // the target without its query: "/status.json"
};

struct HttpResponse
{
    int status = 200;
    std::string contentType; // empty: no body type (error answers are plain text)
    std::string body;
    std::string allow; // for 405: the methods the path takes
};

enum class RequestHead
{
    NeedMore, // the blank line that ends the head has not arrived yet
    Complete, // *request filled in
    TooLarge, // no end of the head within the limit
    Malformed // not "METHOD /target HTTP/1.x"
};

// Reads the head of a request from the bytes received so far. Nothing beyond limit is looked at.
RequestHead parseRequestHead(std::string_view received, std::size_t limit, HttpRequest* request);

// The whole response as sent: status line, Content-Type, Content-Length, Connection: close.
std::string responseText(const HttpResponse& response);

// An answer of that status with its reason phrase as the plain-text body.
HttpResponse plainAnswer(int status);

struct HttpServerOptions
{
    std::size_t maxRequestBytes = 8192; // a longer head is answered 431
    int readTimeoutMs = 2000;           // for the whole head; then 408
    int sendTimeoutMs = 5000;           // for the whole response; then the connection is dropped
    int stopCheckMs = 200;              // how long a stop may wait for the thread
};

class HttpServer
{
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // handler runs on the server's thread, once per complete request; it must not throw.
    explicit HttpServer(Handler handler, HttpServerOptions options = {});
    ~HttpServer(); // stops

    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds dottedAddress:port (port 0: any free one), listens and starts the thread. False
    // with *failure set ("bind: Address already in use") when it cannot. The caller has checked
    // the address (a.b.c.d): the system has no reason to give for another form.
    bool start(const std::string& dottedAddress, std::uint16_t port, std::string* failure);

    // Ends the thread (within stopCheckMs and the connection being served) and the listening
    // socket. Safe to call twice.
    void stop();

    // The port being served, or 0 before start.
    std::uint16_t port() const { return m_port; }

private:
    void serve();
    void answer(SocketHandle connection);
    bool sendWithin(SocketHandle connection, const std::string& bytes);

    const Handler m_handler;
    const HttpServerOptions m_options;
    SocketHandle m_listening = kInvalidSocket;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    Thread m_thread;
};

} // namespace platform
