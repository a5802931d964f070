// tests/link/LinkTransportTest.cpp: open, send, receive and drop against a real loopback peer.
#include "link/LinkTransport.h"

#include <sys/socket.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "link/Frames.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/TrackerClient.h"

using namespace msglink;
using fakes::fromHex;

namespace {

// An envelope declaring the given payload length, with the given marker.
Bytes envelope(std::int32_t length, std::uint8_t marker = 0xFF)
{
    Bytes e(kEnvelopeSize, 0);
    e[0] = marker;
    writeU32(&e[kEnvelopeLengthOffset], static_cast<std::uint32_t>(length));
    writeU32(&e[kEnvelopeLengthCopyOffset], static_cast<std::uint32_t>(length));
    return e;
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class LinkTransportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_listener = platform::createTcpSocket();
        ASSERT_TRUE(platform::bindLoopback(m_listener, 0));
        ASSERT_TRUE(platform::listenMax(m_listener));
        m_port = platform::localPort(m_listener);
    }

    void TearDown() override
    {
        platform::closeSocket(m_peer);
        platform::closeSocket(m_listener);
    }

    // Opens a link with the given options and accepts the server's side of it.
    void connect(LinkOptions options = shortWaits())
    {
        platform::closeSocket(m_peer); // the one before, if any
        m_link = std::make_unique<LinkTransport>(std::move(options));
        ASSERT_TRUE(m_link->openLink("127.0.0.1", m_port));
        bool timedOut = false;
        m_peer = platform::acceptConnection(m_listener, 2000, &timedOut);
        ASSERT_NE(platform::kInvalidSocket, m_peer);
    }

    static LinkOptions shortWaits()
    {
        LinkOptions o;
        o.replyWaitMs = 100;
        o.connectTimeoutMs = 1000;
        return o;
    }

    void peerSends(const Bytes& bytes)
    {
        ASSERT_EQ(static_cast<long>(bytes.size()),
                  platform::sendOnce(m_peer, bytes.data(), bytes.size()));
    }

    // Everything the link sent, up to count bytes, within two seconds.
    Bytes peerReceives(std::size_t count) { return fakes::receiveFrom(m_peer, count, 2000); }

    platform::SocketHandle m_listener = platform::kInvalidSocket;
    platform::SocketHandle m_peer = platform::kInvalidSocket;
    std::uint16_t m_port = 0;
    std::unique_ptr<LinkTransport> m_link;
    Bytes m_payload;
};

const Bytes kLoginReply = fromHex("FF 03000002 00000000 0700000000000000 FE");

} // namespace

TEST_F(LinkTransportTest, SendFrameWritesEnvelopeAndPayloadExactly)
{
    connect();
    ASSERT_TRUE(m_link->sendFrame(buildPoll()));
    EXPECT_EQ(fromHex("FF 00000000 12000000 0000000000000000 12000000"
                      "FF 00000002 00000000 0000000000000000 FE"),
              peerReceives(39));
    MessageCounter counter;
    Bytes payload = buildFrame(counter, kDataMessage, Bytes(100, '{'));
    ASSERT_TRUE(m_link->sendFrame(payload));
    EXPECT_EQ(wrapInEnvelope(payload), peerReceives(139));
}

TEST_F(LinkTransportTest, ReceivesAFrameWithEitherEnvelopeMarker)
{
    connect();
    for (std::uint8_t marker : {0xFF, 0xF0}) {
        peerSends(concat(envelope(18, marker), kLoginReply));
        ASSERT_EQ(ReceiveStatus::Ok, m_link->receiveFrame(m_payload));
        EXPECT_EQ(kLoginReply, m_payload);
        ASSERT_TRUE(checkReply(m_payload).has_value());
        EXPECT_EQ(ReplyKind::LoginAccepted, checkReply(m_payload)->kind);
    }
}

// A broken envelope fails the receive with its reason, before any payload memory is taken.
TEST_F(LinkTransportTest, BrokenEnvelopeFailsAtOnceWithoutAllocating)
{
    Bytes twenty = envelope(18); // the first read must bring all 21 bytes; it is not topped up
    twenty.pop_back();
    const auto limit = static_cast<std::int32_t>(kMaxPayloadLength);
    const struct
    {
        const char* name;
        Bytes sent;
        ReceiveStatus status;
    } rows[] = {
        {"marker neither FF nor F0", envelope(18, 0xFE), ReceiveStatus::BadMarker},
        {"first read of twenty bytes", twenty, ReceiveStatus::ShortEnvelope},
        {"payload length zero", envelope(0), ReceiveStatus::EmptyPayload},
        {"payload length below zero", envelope(-18), ReceiveStatus::EmptyPayload},
        {"payload length the largest int", envelope(0x7FFFFFFF), ReceiveStatus::Oversized},
        {"payload length one above the limit", envelope(limit + 1), ReceiveStatus::Oversized},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        connect();
        peerSends(row.sent);
        Bytes payload;
        EXPECT_EQ(row.status, m_link->receiveFrame(payload));
        EXPECT_EQ(0u, payload.capacity());
    }
}

TEST_F(LinkTransportTest, HeaderEndingInFDIsReceivedButIgnored)
{
    connect();
    Bytes bad = fromHex("FF 03000002 00000000 0000000000000000 FD");
    peerSends(concat(envelope(18), bad));
    ASSERT_EQ(ReceiveStatus::Ok, m_link->receiveFrame(m_payload));
    EXPECT_FALSE(checkReply(m_payload).has_value());
    EXPECT_TRUE(m_link->isOpen());
}

TEST_F(LinkTransportTest, BodyLengthFieldOnlyTellsEmptyFromNotEmpty)
{
    connect();
    Bytes zero = concat(fromHex("FF 00000002 00000000 0000000000000000 FE"), Bytes(4, 7));
    peerSends(concat(envelope(22), zero));
    ASSERT_EQ(ReceiveStatus::Ok, m_link->receiveFrame(m_payload));
    EXPECT_TRUE(checkReply(m_payload)->body.empty());

    Bytes five = concat(fromHex("FF 00000002 05000000 0000000000000000 FE"), Bytes(9, 7));
    peerSends(concat(envelope(27), five));
    ASSERT_EQ(ReceiveStatus::Ok, m_link->receiveFrame(m_payload));
    EXPECT_EQ(Bytes(9, 7), checkReply(m_payload)->body);
}

TEST_F(LinkTransportTest, PayloadSplitAcrossManySmallPiecesIsReassembled)
{
    LinkOptions o = shortWaits();
    o.replyWaitMs = 2000;
    connect(o);
    Bytes payload = fromHex("FF 00000002 B80B0000 0000000000000000 FE");
    for (int i = 0; i < 3000; ++i)
        payload.push_back(static_cast<std::uint8_t>(i * 7));
    std::thread peer([&] {
        peerSends(envelope(static_cast<std::int32_t>(payload.size())));
        for (std::size_t at = 0; at < payload.size(); at += 37) {
            std::size_t n = std::min<std::size_t>(37, payload.size() - at);
            platform::sendOnce(m_peer, payload.data() + at, n);
            if (at % 370 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_EQ(ReceiveStatus::Ok, m_link->receiveFrame(m_payload));
    peer.join();
    EXPECT_EQ(payload, m_payload);
}

TEST_F(LinkTransportTest, SilenceOrClosureEndsTheReceiveAndPassesNothingOn)
{
    connect();
    EXPECT_EQ(ReceiveStatus::TimedOut, m_link->receiveFrame(m_payload));

    // A payload that stops half-way waits once more, then gives up.
    peerSends(concat(envelope(100), Bytes(40, 1)));
    EXPECT_EQ(ReceiveStatus::TimedOut, m_link->receiveFrame(m_payload));
    EXPECT_TRUE(m_payload.empty());

    peerSends(concat(envelope(100), Bytes(40, 1)));
    platform::closeSocket(m_peer);
    m_peer = platform::kInvalidSocket;
    EXPECT_EQ(ReceiveStatus::Closed, m_link->receiveFrame(m_payload));
    EXPECT_TRUE(m_payload.empty());
    EXPECT_EQ(ReceiveStatus::Closed, m_link->receiveFrame(m_payload));
}

TEST_F(LinkTransportTest, DropLinkRunsTheHookAndClosesTheSocket)
{
    int drops = 0;
    LinkOptions o = shortWaits();
    o.onDrop = [&] { ++drops; };
    connect(o);
    m_link->dropLink();
    EXPECT_EQ(1, drops);
    EXPECT_FALSE(m_link->isOpen());
    EXPECT_EQ(Bytes{}, peerReceives(1)); // the server sees the end of the stream
    EXPECT_FALSE(m_link->sendFrame(buildPoll()));
    EXPECT_EQ(ReceiveStatus::NotOpen, m_link->receiveFrame(m_payload));
}

TEST_F(LinkTransportTest, OpenLinkFailsOnRefusalAndOnAnythingButADottedAddress)
{
    LinkTransport link(shortWaits());
    EXPECT_FALSE(link.openLink("localhost", m_port));
    EXPECT_FALSE(link.isOpen());
    platform::closeSocket(m_listener);
    m_listener = platform::kInvalidSocket;
    EXPECT_FALSE(link.openLink("127.0.0.1", m_port));
    EXPECT_FALSE(link.isOpen());
}

// A server whose accept queue is full never answers the handshake: only the connect limit ends
// the attempt.
TEST_F(LinkTransportTest, ConnectLimitEndsAnAttemptTheServerNeverAnswers)
{
    platform::SocketHandle full = platform::createTcpSocket();
    ASSERT_TRUE(platform::bindLoopback(full, 0));
    ASSERT_EQ(0, ::listen(full, 0));
    std::uint16_t port = platform::localPort(full);
    fakes::TrackerClient first(port); // takes the only place in the queue
    ASSERT_TRUE(first.connected());

    LinkOptions o = shortWaits();
    o.connectTimeoutMs = 200;
    LinkTransport link(o);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.openLink("127.0.0.1", port));
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_FALSE(link.isOpen());
    platform::closeSocket(full);
}

TEST(LinkOptionsTest, ChunkSizeStartsAtPacketSizeAndNeverAtZero)
{
    LinkOptions o;
    o.packetSize = 512;
    EXPECT_EQ(512, LinkTransport(o).chunkSize());
    o.packetSize = 0;
    EXPECT_EQ(kDefaultPacketSize, LinkTransport(o).chunkSize());
}

TEST(LinkTransportAdoptTest, CarriesFramesOverAnAdoptedSocketAndNeverTakesASecond)
{
    int pair[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair));
    LinkOptions o;
    o.replyWaitMs = 100;
    LinkTransport link(o);
    EXPECT_FALSE(link.adoptSocket(platform::kInvalidSocket));
    ASSERT_TRUE(link.adoptSocket(pair[0]));
    EXPECT_TRUE(link.isOpen());

    ASSERT_TRUE(link.sendFrame(buildPoll()));
    Bytes sent(39);
    ASSERT_EQ(39, ::recv(pair[1], sent.data(), sent.size(), MSG_DONTWAIT));
    EXPECT_EQ(wrapInEnvelope(buildPoll()), sent);
    const Bytes reply = concat(envelope(18), kLoginReply);
    ASSERT_EQ(static_cast<long>(reply.size()),
              platform::sendOnce(pair[1], reply.data(), reply.size()));
    Bytes payload;
    ASSERT_EQ(ReceiveStatus::Ok, link.receiveFrame(payload));
    EXPECT_EQ(kLoginReply, payload);

    // A second socket is refused while the first is open, and stays the caller's.
    int other[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, other));
    EXPECT_FALSE(link.adoptSocket(other[0]));
    link.dropLink();
    EXPECT_EQ(0, ::recv(pair[1], sent.data(), sent.size(), 0)); // the adopted socket is closed
    EXPECT_TRUE(link.adoptSocket(other[0]));
    for (int s : {pair[1], other[1]})
        platform::closeSocket(s);
}
