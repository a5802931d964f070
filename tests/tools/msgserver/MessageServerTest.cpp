// tests/tools/msgserver/MessageServerTest.cpp: the test message server on a loopback port, talked
// to through the gateway's own link transport.
#include "tools/msgserver/MessageServer.h"

#include <algorithm>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "link/Frames.h"
#include "link/LinkTransport.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"

using namespace msgserver;
using namespace msglink;

namespace {

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

class MessageServerTest : public ::testing::Test
{
protected:
    void start(ServerOptions options = {}, MessageServer::FrameHandler handler = {})
    {
        options.port = 0;
        MessageServer::Output output;
        output.message = [this](const std::string& m) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(m);
        };
        output.event = [this](const std::string& e) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.push_back(e);
        };
        m_server = std::make_unique<MessageServer>(options, output, std::move(handler));
        ASSERT_TRUE(m_server->listen());
        m_thread = std::thread([this] {
            m_server->run(m_stop);
            m_finished = true;
        });
    }

    void TearDown() override
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    std::unique_ptr<LinkTransport> connect()
    {
        LinkOptions o;
        o.replyWaitMs = 3000;
        auto link = std::make_unique<LinkTransport>(o);
        EXPECT_TRUE(link->openLink("127.0.0.1", m_server->port()));
        return link;
    }

    // Sends one frame and gives the reply's payload, or nothing with the receive status.
    std::optional<Bytes> exchange(LinkTransport& link, std::uint32_t code, const Bytes& body = {},
                                  ReceiveStatus* status = nullptr)
    {
        EXPECT_TRUE(link.sendFrame(makePayload(code, body, m_number++)));
        Bytes payload;
        ReceiveStatus s = link.receiveFrame(payload);
        if (status)
            *status = s;
        if (s != ReceiveStatus::Ok)
            return std::nullopt;
        return payload;
    }

    std::uint32_t replyCode(LinkTransport& link, std::uint32_t code, const Bytes& body = {})
    {
        std::optional<Bytes> payload = exchange(link, code, body);
        std::optional<Reply> reply = payload ? checkReply(*payload) : std::nullopt;
        return reply ? reply->code : 0;
    }

    std::vector<std::string> messages()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }

    bool told(const std::string& event)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::find(m_events.begin(), m_events.end(), event) != m_events.end();
    }

    std::unique_ptr<MessageServer> m_server;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
    std::int64_t m_number = 0;
    std::mutex m_mutex;
    std::vector<std::string> m_messages; // guarded by m_mutex
    std::vector<std::string> m_events;   // guarded by m_mutex
};

} // namespace

TEST_F(MessageServerTest, AcceptsTheLoginConfirmsDataAndHandsOnItsText)
{
    start();
    auto link = connect();
    std::array<Message, 4> login = loginMessages(37);
    EXPECT_EQ(kLoginAccepted, replyCode(*link, login[0].code, login[0].body));
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(kPollReply, replyCode(*link, login[i].code, login[i].body));
    const std::string json = R"({"$c$":"gps","imei":"356307042440000","speed":12})";
    EXPECT_EQ(kDeliveryConfirmation, replyCode(*link, kDataMessage, text(json)));
    std::optional<Bytes> poll = exchange(*link, kPoll);
    ASSERT_TRUE(poll.has_value());
    std::optional<Reply> pollReply = checkReply(*poll);
    ASSERT_TRUE(pollReply.has_value());
    EXPECT_EQ(kPollReply, pollReply->code);
    EXPECT_EQ(Bytes{0}, pollReply->body);

    EXPECT_EQ(std::vector<std::string>{json}, messages());
    Counts c = m_server->counts();
    EXPECT_EQ(1u, c.connections);
    EXPECT_EQ(6u, c.frames);
    EXPECT_EQ(1u, c.logins);
    EXPECT_EQ(1u, c.dataMessages);
    EXPECT_EQ(1u, c.polls);
    EXPECT_EQ("connections 1\nframes 6\nlogins 1\ndata messages 1\npolls 1\n", countsText(c));
}

TEST_F(MessageServerTest, DropClosesWithoutAReplyAndTheNextConnectionIsServed)
{
    ServerOptions o;
    o.events.dropAfter = 1;
    start(o);
    auto link = connect();
    EXPECT_EQ(kDeliveryConfirmation, replyCode(*link, kDataMessage, text("one")));
    ReceiveStatus status = ReceiveStatus::Ok;
    EXPECT_FALSE(exchange(*link, kDataMessage, text("two"), &status).has_value());
    EXPECT_EQ(ReceiveStatus::Closed, status);
    link->dropLink();

    auto again = connect();
    EXPECT_EQ(kLoginAccepted, replyCode(*again, kModuleIdentification));
    EXPECT_EQ(kDeliveryConfirmation, replyCode(*again, kDataMessage, text("three")));
    // The dropped message did arrive; only its reply was withheld.
    EXPECT_EQ((std::vector<std::string>{"one", "two", "three"}), messages());
    EXPECT_EQ(2u, m_server->counts().connections);
}

TEST_F(MessageServerTest, BadMarkersMakeRepliesTheGatewayMustIgnore)
{
    ServerOptions o;
    o.events.badMarkersAfter = 0;
    start(o);
    auto link = connect();
    std::optional<Bytes> payload = exchange(*link, kModuleIdentification);
    ASSERT_TRUE(payload.has_value()); // the envelope is fine
    EXPECT_FALSE(checkReply(*payload).has_value());
    EXPECT_EQ(0xFD, (*payload)[kHeaderEndOffset]);
}

TEST_F(MessageServerTest, CountEndsTheRunAfterItsDataMessages)
{
    ServerOptions o;
    o.count = 2;
    start(o);
    auto silent = connect(); // another gateway, connected and saying nothing: no reason to wait
    auto link = connect();
    EXPECT_EQ(kDeliveryConfirmation, replyCode(*link, kDataMessage, text("a")));
    EXPECT_FALSE(m_finished);
    EXPECT_EQ(kDeliveryConfirmation, replyCode(*link, kDataMessage, text("b")));
    ASSERT_TRUE(fakes::eventually([&] { return m_finished.load(); }));
    m_thread.join();
    EXPECT_EQ(2u, m_server->counts().dataMessages);
}

TEST_F(MessageServerTest, StopEndsTheRunWhileAGatewayIsConnected)
{
    start();
    auto link = connect();
    EXPECT_EQ(kLoginAccepted, replyCode(*link, kModuleIdentification));
    m_stop = true;
    ASSERT_TRUE(fakes::eventually([&] { return m_finished.load(); }));
    ReceiveStatus status = ReceiveStatus::Ok;
    EXPECT_FALSE(exchange(*link, kPoll, {}, &status).has_value());
    EXPECT_NE(ReceiveStatus::TimedOut, status); // closed, not left hanging
}

TEST_F(MessageServerTest, EnvelopesAreGatheredAcrossReadsAndBrokenOnesEndTheConnection)
{
    start();
    fakes::TrackerClient raw(m_server->port()); // raw bytes over loopback
    ASSERT_TRUE(raw.connected());
    Bytes wire = wrapInEnvelope(makePayload(kDataMessage, text("pieces"), 0));
    wire[0] = kEnvelopeMarkerAlt; // 0xF0 counts as well
    ASSERT_TRUE(raw.send(Bytes(wire.begin(), wire.begin() + 10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // two separate reads
    ASSERT_TRUE(raw.send(Bytes(wire.begin() + 10, wire.end())));
    Bytes reply = raw.receive(kEnvelopeSize + kHeaderSize);
    ASSERT_EQ(kEnvelopeSize + kHeaderSize, reply.size());
    EXPECT_EQ(kDeliveryConfirmation, readU32(&reply[kEnvelopeSize + kHeaderCodeOffset]));
    EXPECT_EQ(std::vector<std::string>{"pieces"}, messages());

    Bytes broken = wrapInEnvelope(makePayload(kPoll, {}, 0));
    broken[0] = 0x00;
    ASSERT_TRUE(raw.send(broken));
    EXPECT_TRUE(raw.closedByPeer());

    fakes::TrackerClient negative(m_server->port());
    Bytes empty = wrapInEnvelope({});
    ASSERT_TRUE(negative.send(empty)); // payload length 0
    EXPECT_TRUE(negative.closedByPeer());
    EXPECT_EQ(1u, m_server->counts().frames);
    EXPECT_EQ(2u, m_server->counts().connections);
}

TEST_F(MessageServerTest, FirstNumberReportTellsWhichGatewayLoggedIn)
{
    start();
    for (int firstNumber : {37, 300}) {
        auto link = connect();
        for (const Message& m : loginMessages(firstNumber))
            EXPECT_NE(0u, replyCode(*link, m.code, m.body));
        link->dropLink(); // the next connection is served once this one has ended
    }
    EXPECT_TRUE(told("first number 37 on connection 1"));
    EXPECT_TRUE(told("first number 44 on connection 2")); // the low byte of 300
    EXPECT_TRUE(told("sent login accepted"));
}

TEST_F(MessageServerTest, AHandlerAnswersInPlaceOfThePolicy)
{
    std::mutex seenMutex;
    std::vector<std::uint64_t> connections; // guarded by seenMutex
    start({}, [&](const ReceivedFrame& f) {
        {
            std::lock_guard<std::mutex> lock(seenMutex);
            connections.push_back(f.connection);
        }
        switch (readU32(&f.payload[kHeaderCodeOffset])) {
        case kPoll:
            return Reaction{Reaction::Kind::Raw, text("raw")};
        case kEchoReply:
            return Reaction{Reaction::Kind::Silent, {}};
        case kDataMessage:
            return Reaction{Reaction::Kind::Close, {}};
        default:
            return Reaction{Reaction::Kind::Reply, makePayload(kEchoRequest, {}, 9)};
        }
    });
    fakes::TrackerClient raw(m_server->port());
    ASSERT_TRUE(raw.connected());
    ASSERT_TRUE(raw.send(wrapInEnvelope(makePayload(kModuleIdentification, {}, 0))));
    Bytes reply = raw.receive(kEnvelopeSize + kHeaderSize);
    ASSERT_EQ(kEnvelopeSize + kHeaderSize, reply.size());
    EXPECT_EQ(kEchoRequest, readU32(&reply[kEnvelopeSize + kHeaderCodeOffset]));
    EXPECT_EQ(9, readI64(&reply[kEnvelopeSize + kHeaderNumberOffset]));
    // Nothing for the echo reply; the poll's raw bytes are the next thing to arrive.
    ASSERT_TRUE(raw.send(wrapInEnvelope(makePayload(kEchoReply, {}, 1))));
    ASSERT_TRUE(raw.send(wrapInEnvelope(makePayload(kPoll, {}, 0))));
    EXPECT_EQ(text("raw"), raw.receive(3));
    ASSERT_TRUE(raw.send(wrapInEnvelope(makePayload(kDataMessage, text("x"), 2))));
    EXPECT_TRUE(raw.closedByPeer());
    {
        std::lock_guard<std::mutex> lock(seenMutex);
        EXPECT_EQ((std::vector<std::uint64_t>{1, 1, 1, 1}), connections);
    }
    // The policy was not asked: nothing counted, no message handed on.
    EXPECT_EQ(0u, m_server->counts().frames);
    EXPECT_TRUE(messages().empty());
}

TEST(MessageLineTest, StampedLinesBeginWithTheArrivalTime)
{
    EXPECT_EQ(R"({"a":1})", messageLine(R"({"a":1})", std::nullopt));
    EXPECT_EQ(R"(123456789 {"a":1})", messageLine(R"({"a":1})", 123456789));
}

TEST(PortFileTest, HoldsThePortAndALineEnd)
{
    fakes::TempDir dir;
    ASSERT_TRUE(writePortFile(dir.file("port"), 40123));
    EXPECT_EQ("40123\n", dir.read("port"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("port.tmp")));
    ASSERT_TRUE(writePortFile(dir.file("port"), 7)); // replaced, not appended
    EXPECT_EQ("7\n", dir.read("port"));
    EXPECT_FALSE(writePortFile(dir.file("missing/port"), 7));
}
