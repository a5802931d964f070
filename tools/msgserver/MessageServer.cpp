// tools/msgserver/MessageServer.cpp
#include "tools/msgserver/MessageServer.h"

#include <chrono>
#include <cstdio>
#include <list>
#include <memory>
#include <system_error>
#include <thread>

#include "link/Frames.h"
#include "tools/msgserver/FrameReader.h"

namespace msgserver {

namespace {

// Sleeps ms in short slices; false when stop was raised meanwhile.
bool pause(int ms, const std::atomic<bool>& stop)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stop) {
        auto left = until - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return true;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
    }
    return false;
}

std::string eventName(std::uint32_t code)
{
    switch (code) {
    case msglink::kLoginAccepted:
        return "login accepted";
    case msglink::kEchoRequest:
        return "echo request";
    case msglink::kCloseOrder:
        return "close order";
    case msglink::kDisconnectCommand:
        return "disconnect command";
    default:
        return {};
    }
}

} // namespace

MessageServer::MessageServer(ServerOptions options, Output output, FrameHandler handler)
    : m_options(std::move(options)), m_output(std::move(output)), m_handler(std::move(handler)),
      m_policy(m_options.events)
{
}

MessageServer::~MessageServer()
{
    platform::closeSocket(m_listen);
}

bool MessageServer::listen()
{
    m_listen = platform::createTcpSocket();
    bool bound = m_options.bind == "0.0.0.0" ? platform::bindAny(m_listen, m_options.port)
                                             : platform::bindLoopback(m_listen, m_options.port);
    if (!bound || !platform::listenMax(m_listen)) {
        platform::closeSocket(m_listen);
        m_listen = platform::kInvalidSocket;
        return false;
    }
    m_port = platform::localPort(m_listen);
    return true;
}

Counts MessageServer::counts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_policy.counts();
}

bool MessageServer::countReached() const
{
    return m_options.count && counts().dataMessages >= *m_options.count;
}

void MessageServer::say(const std::string& line) const
{
    std::lock_guard<std::mutex> lock(m_outputMutex);
    if (m_output.event)
        m_output.event(line);
}

void MessageServer::run(const std::atomic<bool>& stop)
{
    struct Serving
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
    };
    std::list<Serving> serving;
    // Raised once no more connections are taken (stop, or the count reached), so that a
    // connection that sends nothing more does not hold the end up.
    std::atomic<bool> ending{false};
    auto reap = [&serving](bool all) {
        for (auto it = serving.begin(); it != serving.end();)
            if (all || *it->done) {
                it->thread.join();
                it = serving.erase(it);
            } else {
                ++it;
            }
    };
    while (!stop && !countReached() && m_listen != platform::kInvalidSocket) {
        bool timedOut = false;
        platform::SocketHandle s =
            platform::acceptConnection(m_listen, m_options.waitSliceMs, &timedOut);
        reap(false);
        if (s == platform::kInvalidSocket)
            continue;
        std::uint64_t connection = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_policy.connectionAccepted();
            connection = m_policy.counts().connections;
        }
        say("connection " + std::to_string(connection) + " accepted");
        if (m_output.accepted) {
            std::lock_guard<std::mutex> lock(m_outputMutex);
            m_output.accepted(connection);
        }
        try {
            Serving& one = serving.emplace_back();
            one.thread = std::thread([this, s, connection, &ending, done = one.done] {
                serveThenClose(s, connection, ending);
                *done = true;
            });
        } catch (const std::system_error&) {
            serving.pop_back();
            say("no thread for connection " + std::to_string(connection) + "; closing it");
            platform::closeSocket(s);
        }
    }
    ending = true;
    reap(true);
}

void MessageServer::serveThenClose(platform::SocketHandle s, std::uint64_t connection,
                                   const std::atomic<bool>& stop)
{
    serve(s, connection, stop);
    platform::closeSocket(s);
    say("connection " + std::to_string(connection) + " ended");
}

void MessageServer::serve(platform::SocketHandle s, std::uint64_t connection,
                          const std::atomic<bool>& stop)
{
    ReceivedFrame frame;
    frame.connection = connection;
    for (;;) {
        FrameRead r = readFrame(s, stop, frame.payload, m_options.waitSliceMs);
        if (r == FrameRead::Broken)
            say("broken envelope; closing the connection");
        if (r != FrameRead::Frame)
            return;
        Reaction a = m_handler ? m_handler(frame) : usualReaction(frame, stop);
        switch (a.kind) {
        case Reaction::Kind::Reply:
            a.bytes = msglink::wrapInEnvelope(a.bytes);
            [[fallthrough]];
        case Reaction::Kind::Raw:
            if (platform::sendOnce(s, a.bytes.data(), a.bytes.size()) !=
                static_cast<long>(a.bytes.size()))
                return;
            break;
        case Reaction::Kind::Silent:
            break;
        case Reaction::Kind::Close:
            return;
        }
        if (countReached())
            return;
    }
}

Reaction MessageServer::usualReaction(const ReceivedFrame& frame, const std::atomic<bool>& stop)
{
    std::optional<std::uint32_t> code = frameCode(frame.payload);
    Answer a;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        a = m_policy.answer(code);
    }
    msglink::Bytes body = frameBody(frame.payload);
    if (code == msglink::kDataMessage && m_output.message) {
        std::lock_guard<std::mutex> lock(m_outputMutex);
        m_output.message(std::string(body.begin(), body.end()));
    }
    if (code == msglink::kFirstNumberReport && !body.empty())
        say("first number " + std::to_string(body[0]) + " on connection " +
            std::to_string(frame.connection));
    if (a.kind == Answer::Kind::Drop) {
        say("closing the connection without a reply");
        return {Reaction::Kind::Close, {}};
    }
    if (!pause(m_options.delayMs, stop))
        return {Reaction::Kind::Close, {}};
    std::string name = eventName(a.code);
    if (!name.empty())
        say("sent " + name + (a.badEndMarker ? " with a bad end marker" : ""));
    std::int64_t number = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        number = m_number++;
    }
    return {Reaction::Kind::Reply, answerPayload(a, number)};
}

bool writePortFile(const std::string& path, std::uint16_t port)
{
    std::string temporary = path + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    if (!f)
        return false;
    bool written = std::fprintf(f, "%u\n", static_cast<unsigned>(port)) > 0;
    written = std::fclose(f) == 0 && written;
    return written && std::rename(temporary.c_str(), path.c_str()) == 0;
}

std::string messageLine(const std::string& text, std::optional<std::int64_t> stampUs)
{
    if (!stampUs)
        return text;
    std::string line = std::to_string(*stampUs);
    line += ' ';
    line += text;
    return line;
}

std::string countsText(const Counts& c)
{
    return "connections " + std::to_string(c.connections) + "\nframes " + std::to_string(c.frames) +
           "\nlogins " + std::to_string(c.logins) + "\ndata messages " +
           std::to_string(c.dataMessages) + "\npolls " + std::to_string(c.polls) + "\n";
}

} // namespace msgserver
