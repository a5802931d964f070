// fuzz/link_replies.cpp: the message-server client fed what the server sends: its state machine
// turn by turn, with a transport that carries every frame over a real link transport on one end
// of a socket pair while this target plays the server on the other end.
//
// Input: one byte per turn, and one answer per frame the client sends. Turn byte t: the clock
// moves (t & 0x0F) x 400 ms; 0x10 hands a new position message over first; 0x20 refuses a
// connection attempt in this turn; 0x40 syncs the backlog. An answer is a 16-bit length and that
// many bytes the server writes back at once (a length of 0xFFFF instead closes the server's end).
//
// Properties: receive frame gives exactly the payload the server sent behind a valid envelope,
// and fails only for what the bytes on hand say (short envelope, wrong marker, a length of 0 or
// less, a payload not all there, a closed end); every frame the client writes is well formed
// (envelope marker FF, both lengths, zero reserved bytes, header markers FF and FE, body length,
// a code it may send), numbered frames count up and polls carry 0; a connection starts with the
// login, data and polls go only once the login is accepted and never ahead of an owed echo
// reply; and every message handed over was sent, or is still in the backlog at the end.
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "backlog/BacklogStore.h"
#include "fuzz/FuzzCheck.h"
#include "link/Frames.h"
#include "link/LinkMachine.h"
#include "link/LinkTransport.h"
#include "tests/fakes/FakeClock.h"
#include "tests/fakes/FakeLinkView.h"

namespace {

using msglink::Bytes;
using msglink::ReceiveStatus;

constexpr std::uint16_t kCloseServerEnd = 0xFFFF;

// What the server side has seen of the client on the current connection and over the run.
struct ServerView
{
    std::set<std::string> handedOver; // texts of the position messages
    std::set<std::string> delivered;  // texts of the data messages the client sent
    std::int64_t lastNumber = -1;     // of the last numbered frame
    bool firstFrame = true;           // nothing sent yet on this connection
    bool authorised = false;          // a login accepted came on this connection
    int echoesOwed = 0;
};

std::string describe(const Bytes& b)
{
    return fuzz::hex(b.data(), b.size());
}

void checkPayload(const Bytes& p, ServerView& view)
{
    FUZZ_CHECK(p.size() >= msglink::kHeaderSize && p[0] == msglink::kHeaderStartMarker &&
                   p[msglink::kHeaderEndOffset] == msglink::kHeaderEndMarker,
               "client payload without its header markers: " + describe(p));
    const std::uint32_t code = msglink::readU32(&p[msglink::kHeaderCodeOffset]);
    const std::int64_t number = msglink::readI64(&p[msglink::kHeaderNumberOffset]);
    const Bytes body(p.begin() + msglink::kHeaderSize, p.end());
    FUZZ_CHECK(msglink::readI32(&p[msglink::kHeaderBodyLengthOffset]) ==
                   static_cast<std::int32_t>(body.size()),
               "header body length differs from the body: " + describe(p));
    FUZZ_CHECK(!view.firstFrame || code == msglink::kModuleIdentification,
               "a connection does not start with the login: " + describe(p));
    view.firstFrame = false;
    if (code == msglink::kPoll) {
        FUZZ_CHECK(number == 0 && body.empty(), "malformed poll: " + describe(p));
    } else {
        FUZZ_CHECK(number > view.lastNumber, "message number did not count up: " + describe(p));
        view.lastNumber = number;
    }
    switch (code) {
    case msglink::kModuleIdentification:
        FUZZ_CHECK(body == msglink::moduleIdentificationBody(), "module identification body");
        return;
    case msglink::kPortReport:
        FUZZ_CHECK(body == msglink::portReportBody(), "port report body");
        return;
    case msglink::kFirstNumberReport:
        FUZZ_CHECK(body == Bytes{37}, "first-number report body");
        return;
    case msglink::kVersionReport:
        FUZZ_CHECK(body.size() == 8, "version report body");
        return;
    case msglink::kEchoReply:
        FUZZ_CHECK(body.empty() && view.echoesOwed > 0, "echo reply nobody asked for");
        --view.echoesOwed;
        return;
    case msglink::kPoll:
    case msglink::kDataMessage:
        break;
    default:
        fuzz::fail("client sent a code it never sends: " + describe(p));
    }
    FUZZ_CHECK(view.authorised, "data or poll before the login was accepted: " + describe(p));
    FUZZ_CHECK(view.echoesOwed == 0, "data or poll ahead of an owed echo reply");
    if (code == msglink::kDataMessage) {
        const std::string text(body.begin(), body.end());
        FUZZ_CHECK(view.handedOver.count(text) == 1, "data message nobody handed over: " + text);
        view.delivered.insert(text);
    }
}

// No waiting: the server has written all it will before the client reads.
msglink::LinkOptions noWaitOptions()
{
    msglink::LinkOptions o;
    o.replyWaitMs = 0;
    o.packetSize = 7;
    return o;
}

// The client's transport: a real link transport on one end of a socket pair; this side is the
// server on the other end, answering every frame with the next answer of the input.
class ServerPair final : public msglink::Transport
{
public:
    ServerPair(fuzz::Input& in, ServerView& view) : m_in(in), m_view(view) {}
    ~ServerPair() override { closeServer(); }

    bool refuseNext = false;

    bool openLink(const std::string&, std::uint16_t) override
    {
        dropLink();
        if (refuseNext) {
            m_failure = "refused";
            return false;
        }
        int fds[2];
        FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0,
                   "socketpair failed");
        FUZZ_CHECK(m_link.adoptSocket(fds[0]), "the link transport refused a connected socket");
        m_server = fds[1];
        m_failure.clear();
        m_view.firstFrame = true;
        m_view.authorised = false;
        m_view.echoesOwed = 0;
        return true;
    }

    bool sendFrame(const Bytes& payload) override
    {
        const bool sent = m_link.sendFrame(payload);
        FUZZ_CHECK(sent, "send on a socket pair failed");
        readClientFrames();
        answer();
        return sent;
    }

    ReceiveStatus receiveFrame(Bytes& payload) override
    {
        const ReceiveStatus s = m_link.receiveFrame(payload);
        checkReceive(s, payload);
        if (s == ReceiveStatus::Ok) {
            std::optional<msglink::Reply> reply = msglink::checkReply(payload);
            if (reply && reply->kind == msglink::ReplyKind::LoginAccepted)
                m_view.authorised = true;
            if (reply && reply->kind == msglink::ReplyKind::EchoRequest)
                ++m_view.echoesOwed;
        }
        return s;
    }

    void dropLink() override
    {
        m_link.dropLink();
        closeServer();
    }

    bool isOpen() const override { return m_link.isOpen(); }
    const std::string& failure() const override { return m_failure; }

private:
    void closeServer()
    {
        if (m_server >= 0)
            ::close(m_server);
        m_server = -1;
        m_unread.clear();
        m_fromClient.clear();
        m_serverClosed = false;
    }

    // Everything the client wrote must be whole frames, each checked.
    void readClientFrames()
    {
        std::uint8_t buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_server, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                break;
            m_fromClient.insert(m_fromClient.end(), buffer, buffer + n);
        }
        const Bytes& w = m_fromClient;
        FUZZ_CHECK(w.size() >= msglink::kEnvelopeSize, "client wrote a partial envelope");
        const std::int32_t length = msglink::readI32(&w[msglink::kEnvelopeLengthOffset]);
        FUZZ_CHECK(w[0] == msglink::kEnvelopeMarker &&
                       std::all_of(&w[1], &w[5], [](auto b) { return b == 0; }) &&
                       std::all_of(&w[9], &w[17], [](auto b) { return b == 0; }) &&
                       msglink::readI32(&w[msglink::kEnvelopeLengthCopyOffset]) == length &&
                       length >= 0 &&
                       w.size() == msglink::kEnvelopeSize + static_cast<std::size_t>(length),
                   "malformed envelope from the client: " + describe(w));
        checkPayload(Bytes(w.begin() + msglink::kEnvelopeSize, w.end()), m_view);
        m_fromClient.clear();
    }

    void answer()
    {
        const std::uint16_t length = m_in.u16();
        if (length == kCloseServerEnd) {
            ::shutdown(m_server, SHUT_WR);
            m_serverClosed = true;
            return;
        }
        const Bytes bytes = m_in.bytes(length);
        if (m_serverClosed || bytes.empty())
            return;
        const ssize_t n = ::send(m_server, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        FUZZ_CHECK(n == static_cast<ssize_t>(bytes.size()), "the socket pair took less");
        m_unread.insert(m_unread.end(), bytes.begin(), bytes.end());
    }

    // What receive frame reported must follow from the bytes the server wrote and the client
    // had not read yet.
    void checkReceive(ReceiveStatus s, const Bytes& payload)
    {
        const Bytes& u = m_unread;
        const bool envelope = u.size() >= msglink::kEnvelopeSize;
        const bool marker =
            !u.empty() && (u[0] == msglink::kEnvelopeMarker || u[0] == msglink::kEnvelopeMarkerAlt);
        const std::int64_t length =
            envelope ? msglink::readI32(&u[msglink::kEnvelopeLengthOffset]) : 0;
        const bool sized = envelope && marker && length > 0 &&
                           static_cast<std::size_t>(length) <= msglink::kMaxPayloadLength;
        const bool whole =
            sized && u.size() >= msglink::kEnvelopeSize + static_cast<std::size_t>(length);
        std::size_t consumed = u.size();
        const std::string context = " with unread " + describe(u);
        switch (s) {
        case ReceiveStatus::Ok:
            FUZZ_CHECK(
                whole && payload.size() == static_cast<std::size_t>(length) &&
                    std::equal(payload.begin(), payload.end(), u.begin() + msglink::kEnvelopeSize),
                "frame accepted that the server did not send" + context);
            consumed = msglink::kEnvelopeSize + payload.size();
            break;
        case ReceiveStatus::BadMarker:
            FUZZ_CHECK(envelope && !marker, "bad marker reported" + context);
            consumed = msglink::kEnvelopeSize;
            break;
        case ReceiveStatus::EmptyPayload:
            FUZZ_CHECK(envelope && marker && length <= 0, "empty payload reported" + context);
            consumed = msglink::kEnvelopeSize;
            break;
        case ReceiveStatus::Oversized:
            FUZZ_CHECK(envelope && marker && length > 0 && !sized, "oversized reported" + context);
            consumed = msglink::kEnvelopeSize;
            break;
        case ReceiveStatus::ShortEnvelope:
            FUZZ_CHECK(!u.empty() && !envelope, "short envelope reported" + context);
            break;
        case ReceiveStatus::TimedOut:
            FUZZ_CHECK(!m_serverClosed && (u.empty() || (sized && !whole)),
                       "time-out reported" + context);
            break;
        case ReceiveStatus::Closed:
            FUZZ_CHECK(m_serverClosed && (u.empty() || (sized && !whole)),
                       "closed reported" + context);
            break;
        default:
            fuzz::fail("receive failed on a socket pair" + context);
        }
        FUZZ_CHECK(s == ReceiveStatus::Ok || payload.empty(), "failed receive left a payload");
        m_unread.erase(m_unread.begin(), m_unread.begin() + static_cast<std::ptrdiff_t>(consumed));
    }

    fuzz::Input& m_in;
    ServerView& m_view;
    msglink::LinkTransport m_link{noWaitOptions()};
    int m_server = -1;
    bool m_serverClosed = false;
    Bytes m_unread;     // written by the server, not yet read by the client
    Bytes m_fromClient; // written by the client, not yet checked
    std::string m_failure;
};

// The texts still in the backlog of the working directory, oldest first.
std::multiset<std::string> backlogTexts(const std::string& directory)
{
    std::multiset<std::string> texts;
    backlog::BacklogStore store(directory);
    store.setSubdirectoryName(backlog::kStoreDirectory);
    const backlog::StoreStatus opened = store.open();
    FUZZ_CHECK(opened.isOk(), "the backlog does not open again: " + opened.text());
    for (int i = 0; i < 100000; ++i) {
        backlog::BacklogStore::Oldest p = store.oldest();
        FUZZ_CHECK(p.status.isOk(), "the backlog cannot be read: " + p.status.text());
        if (!p.found)
            return texts;
        if (p.good)
            texts.emplace(p.body.begin(), p.body.end());
        FUZZ_CHECK(store.takeOldest().isOk(), "the backlog cannot be drained");
    }
    fuzz::fail("the backlog does not run empty");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string directory = fuzz::scratchDirectory();
    fuzz::emptyDirectory(directory);

    fuzz::Input in(data, size);
    ServerView view;
    fakes::FakeClock clock;
    fakes::FakeLinkView linkView;
    msglink::OutboxOptions options;
    options.commitThread = false; // commits where the input says
    auto outbox = std::make_unique<msglink::Outbox>(linkView, clock, directory, options);
    auto machine = std::make_unique<msglink::LinkMachine>(linkView, clock, *outbox, 37, directory);
    auto transport = std::make_unique<ServerPair>(in, view);
    ServerPair& pair = *transport;
    machine->start(std::move(transport));

    std::set<std::string> stored;
    int handed = 0;
    while (!in.empty()) {
        const std::uint8_t t = in.byte();
        clock.advanceMs((t & 0x0F) * 400.0);
        if (t & 0x10) {
            const std::string text = "position " + std::to_string(handed++);
            view.handedOver.insert(text);
            if (outbox->storeMessage(text))
                stored.insert(text);
        }
        if (t & 0x40)
            outbox->commit();
        pair.refuseNext = (t & 0x20) != 0;
        machine->turn();
    }
    machine->end();
    machine.reset();
    outbox.reset();

    // Nothing handed over is lost: what did not go out waits in the backlog.
    const std::multiset<std::string> waiting = backlogTexts(directory);
    for (const std::string& text : stored)
        FUZZ_CHECK(view.delivered.count(text) == 1 || waiting.count(text) == 1,
                   "message neither sent nor in the backlog: " + text);
    return 0;
}
