// tests/platform/SocketTest.cpp
#include "platform/Socket.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

struct Listener
{
    Listener()
    {
        s = createTcpSocket();
        EXPECT_TRUE(bindLoopback(s, 0));
        EXPECT_TRUE(listenMax(s));
        port = localPort(s);
    }
    ~Listener() { closeSocket(s); }
    SocketHandle s;
    std::uint16_t port;
};

} // namespace

TEST(SocketTest, ConnectAcceptSendReceiveAndClose)
{
    Listener l;
    SocketHandle c = createTcpSocket();
    ASSERT_TRUE(connectWithTimeout(c, "127.0.0.1", l.port, 2000));
    EXPECT_TRUE(setNoDelay(c));
    bool timedOut = true;
    SocketHandle a = acceptConnection(l.s, 2000, &timedOut);
    ASSERT_NE(kInvalidSocket, a);
    EXPECT_FALSE(timedOut);

    EXPECT_EQ(WaitResult::TimedOut, waitReadable(a, 10));
    EXPECT_EQ(5, sendOnce(c, "hello", 5));
    ASSERT_EQ(WaitResult::Readable, waitReadable(a, 2000));
    char buf[16];
    RecvResult r = recvOnce(a, buf, 3); // one read, never more than asked
    EXPECT_EQ(RecvResult::Kind::Data, r.kind);
    EXPECT_EQ(3u, r.bytes);
    EXPECT_TRUE(receiveBufferSize(a).has_value());

    closeSocket(c);
    r = recvOnce(a, buf, sizeof buf);
    EXPECT_EQ(2u, r.bytes);
    ASSERT_EQ(WaitResult::Readable, waitReadable(a, 2000));
    EXPECT_EQ(RecvResult::Kind::Closed, recvOnce(a, buf, sizeof buf).kind);
    // Writing to a closed peer fails instead of killing the process.
    bool failed = false;
    for (int i = 0; i < 50 && !failed; ++i) {
        failed = sendOnce(a, "x", 1) < 0;
        waitReadable(a, 10);
    }
    EXPECT_TRUE(failed);
    closeSocket(a);
}

TEST(SocketTest, AcceptTimesOutWithoutAConnection)
{
    Listener l;
    bool timedOut = false;
    EXPECT_EQ(kInvalidSocket, acceptConnection(l.s, 10, &timedOut));
    EXPECT_TRUE(timedOut);
}

TEST(SocketTest, ConnectFailsOnRefusalAndOnAMalformedAddress)
{
    std::uint16_t freePort;
    {
        Listener l;
        freePort = l.port;
    }
    SocketHandle c = createTcpSocket();
    EXPECT_FALSE(connectWithTimeout(c, "127.0.0.1", freePort, 2000));
    closeSocket(c);
    c = createTcpSocket();
    EXPECT_FALSE(connectWithTimeout(c, "server.example", 80, 2000));
    EXPECT_FALSE(connectWithTimeout(c, "300.1.1.1", 80, 2000));
    closeSocket(c);
}

TEST(SocketTest, SecondListenerOnAHeldPortFails)
{
    Listener l;
    SocketHandle s = createTcpSocket();
    EXPECT_FALSE(bindAny(s, l.port) && listenMax(s));
    closeSocket(s);
}

TEST(SocketTest, DottedIPv4IsFourNumbersUpTo255AndNothingElse)
{
    for (const char* good : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "10.20.30.40"})
        EXPECT_TRUE(isDottedIPv4(good)) << good;
    for (const char* bad : {"", "999.1.2.3", "1.2.3", "1.2.3.4.5", "1.2.3.", ".1.2.3", "01.2.3.4",
                            "1..2.3", "host.example", "localhost", "1.2.3.4 ", "-1.2.3.4",
                            "1.2.3.-4", "1.2.3.2560", "1.2.3.256", "1.2.3.0004"})
        EXPECT_FALSE(isDottedIPv4(bad)) << bad;
    EXPECT_FALSE(isDottedIPv4(std::string_view("1.2.3.4\0", 8))); // not cut short at a NUL
}
