// tests/link/clTest.cpp: the client against a fake message server: connecting, login, the
// exchanges and the server's orders.
#include "link/cl.h"

#include <thread>

#include "tests/link/ClientFixture.h"

using namespace msglink;
using fakes::ServerAnswer;
using fakes::ServerFrame;

namespace {

ServerAnswer withholdLogin(const ServerFrame&)
{
    return fakes::answer(kPollReply, {0});
}

} // namespace

class clTest : public ClientFixture
{
};

TEST_F(clTest, FirstAttemptAtOnceThenMoreThan5000MsApart)
{
    writeSettings("Port=" + std::to_string(fakes::freeLoopbackPort()) + "\n");
    startClient();
    waitAttemptBegun(1);
    m_clock.advanceMs(5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(1, m_view.count(kEventConnecting));
    m_clock.advanceMs(0.01);
    EXPECT_TRUE(m_view.waitCount(kEventConnecting, 2));
    waitAttemptBegun(2);
    EXPECT_EQ(0, m_view.count(kEventConnected)); // a failed attempt adds no line of its own
    EXPECT_EQ((std::vector<std::string>{"127.0.0.1", "127.0.0.1"}), m_view.addresses());
}

TEST_F(clTest, FreshRunSendsTheFourLoginFramesNumbered0To3)
{
    m_server->setHandler(withholdLogin);
    pointAtServer();
    startClient();
    ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 4; }));
    auto f = m_server->frames();
    ASSERT_EQ(4u, f.size());
    EXPECT_EQ(kModuleIdentification, f[0].code);
    EXPECT_EQ(kPortReport, f[1].code);
    EXPECT_EQ(kFirstNumberReport, f[2].code);
    EXPECT_EQ(kVersionReport, f[3].code);
    for (std::int64_t i = 0; i < 4; ++i)
        EXPECT_EQ(i, f[static_cast<std::size_t>(i)].number);
    EXPECT_EQ((Bytes{0x36, 0x00}), f[0].body);
    EXPECT_EQ((Bytes{0x25}), f[2].body);
    EXPECT_EQ(1, m_view.count(kEventConnected));
    // Not authorised: no polls and messages go to the backlog.
    m_client->SendText("held");
    EXPECT_EQ(1, m_client->backlogCount());
    m_clock.advanceMs(600);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(4u, m_server->frames().size());
}

TEST_F(clTest, EarlyLoginAcceptedStillSendsTheRestOfTheLoginThenData)
{
    pointAtServer();
    startClient();
    ASSERT_TRUE(waitAuthorised());
    m_client->SendText("first");
    ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 5; }));
    auto f = m_server->frames();
    EXPECT_EQ(kPortReport, f[1].code);
    EXPECT_EQ(kVersionReport, f[3].code);
    EXPECT_EQ((Bytes{0x25}), f[2].body);
    EXPECT_EQ(kDataMessage, f[4].code);
    EXPECT_EQ("first", f[4].text());
    EXPECT_EQ(4, f[4].number);
}

TEST_F(clTest, PollsWhileIdleAndAuthorisedEveryMoreThan500Ms)
{
    pointAtServer();
    startClient();
    ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 4; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(m_server->framesWithCode(kPoll).empty());
    m_clock.advanceMs(501);
    ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 5; }));
    auto poll = m_server->frames()[4];
    EXPECT_EQ(kPoll, poll.code);
    EXPECT_EQ(0, poll.number);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(1u, m_server->framesWithCode(kPoll).size());
}

TEST_F(clTest, FrameLeftFromThePreviousConnectionGoesBeforeTheModuleIdentification)
{
    m_server->setHandler([this](const ServerFrame& f) {
        if (f.code == kDataMessage && f.text() == "one") {
            while (!m_release) // until "two" is queued
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return fakes::answer(kCloseOrder);
        }
        return fakes::usualAnswer(f);
    });
    pointAtServer();
    startClient();
    ASSERT_TRUE(waitAuthorised());
    m_client->SendText("one");
    m_client->SendText("two");
    m_release = true;
    ASSERT_TRUE(fakes::eventually([&] { return !m_client->connected(); }));
    nextAttempt(1);
    auto onSecond = [&] {
        std::vector<ServerFrame> out;
        for (auto& f : m_server->frames())
            if (f.connection == 2)
                out.push_back(f);
        return out;
    };
    ASSERT_TRUE(fakes::eventually([&] { return onSecond().size() >= 2; }));
    auto second = onSecond();
    EXPECT_EQ("two", second[0].text());
    EXPECT_EQ(kModuleIdentification, second[1].code);
}

TEST_F(clTest, ErrorCountAbove20DropsTheNextConnectionAtOnce)
{
    m_server->setHandler([](const ServerFrame&) { return fakes::closeConnection(); });
    pointAtServer();
    startClient();
    for (int i = 1; i <= 21; ++i) {
        ASSERT_TRUE(m_server->waitConnections(i));
        ASSERT_TRUE(fakes::eventually([&] { return m_client->errorCount() == i; })) << i;
        ASSERT_TRUE(fakes::eventually([&] { return !m_client->connected(); }));
        if (i < 21)
            nextAttempt(i);
    }
    m_server->setHandler(fakes::usualAnswer);
    std::size_t framesBefore = m_server->frames().size();
    nextAttempt(21);
    ASSERT_TRUE(m_view.waitCount(kEventNetworkErrors, 1));
    EXPECT_EQ(0, m_client->errorCount());
    EXPECT_EQ(framesBefore, m_server->frames().size()); // dropped before sending anything
}

TEST_F(clTest, EchoReplyGoesInTheSixthExchangeBehindFiveQueuedFrames)
{
    m_server->setHandler([&](const ServerFrame& f) {
        if (f.code == kDataMessage && f.text() == "go") {
            while (!m_release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return fakes::answer(kEchoRequest);
        }
        return fakes::usualAnswer(f);
    });
    pointAtServer();
    startClient();
    ASSERT_TRUE(waitAuthorised());
    ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 4; }));
    m_client->SendText("go");
    ASSERT_TRUE(m_server->waitForText("go"));
    for (int i = 1; i <= 5; ++i)
        m_client->SendText("d" + std::to_string(i));
    m_release = true;
    ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 11; }));
    auto f = m_server->frames();
    for (std::size_t i = 5; i < 10; ++i)
        EXPECT_EQ("d" + std::to_string(i - 4), f[i].text());
    EXPECT_EQ(kEchoReply, f[10].code);
    EXPECT_TRUE(f[10].body.empty());
}

TEST_F(clTest, DisconnectCommandWaitsOutTheReconnectWaitAndIsReported)
{
    // The first connection fails an exchange, so there is an error count to reset.
    m_server->setHandler([](const ServerFrame& f) {
        if (f.code == kPortReport && f.connection == 1)
            return fakes::closeConnection();
        if (f.code == kVersionReport && f.connection == 2)
            return fakes::answer(kDisconnectCommand);
        return fakes::usualAnswer(f);
    });
    pointAtServer();
    startClient();
    ASSERT_TRUE(fakes::eventually([&] { return m_client->errorCount() == 1; }));
    nextAttempt(1);
    ASSERT_TRUE(m_view.waitCount(kEventServerDisconnect, 1));
    EXPECT_FALSE(m_client->connected());
    EXPECT_EQ(0, m_client->errorCount());
    m_clock.advanceMs(5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(2, m_server->connections());
    m_clock.advanceMs(0.01);
    EXPECT_TRUE(m_view.waitCount(kEventConnecting, 3));
    EXPECT_TRUE(m_server->waitConnections(3));
}

TEST_F(clTest, BothCloseOrdersDropTheLinkWithoutAnError)
{
    for (std::uint32_t order : {kCloseOrder, kCloseOrderAlt}) {
        SCOPED_TRACE(order);
        m_server = std::make_unique<fakes::FakeMessageServer>([order](const ServerFrame& f) {
            return f.code == kPortReport ? fakes::answer(order) : fakes::usualAnswer(f);
        });
        pointAtServer();
        startClient();
        ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 2; }));
        ASSERT_TRUE(fakes::eventually([&] { return !m_client->connected(); }));
        EXPECT_EQ(0, m_client->errorCount());
        EXPECT_EQ(0, m_view.count(kEventNetworkErrors));
        m_client.reset();
    }
}

TEST_F(clTest, SilenceCheckDropsAServerThatAnswersOnlyBadMarkers)
{
    m_server->setHandler([](const ServerFrame&) {
        Bytes bad = fakes::replyPayload(kLoginAccepted);
        bad[kHeaderEndOffset] = 0xFD;
        return ServerAnswer{ServerAnswer::Kind::Reply, bad};
    });
    pointAtServer();
    startClient();
    ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 4; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(m_client->connected()); // ignored replies keep the link up
    EXPECT_FALSE(m_client->authorised());
    EXPECT_EQ(0, m_client->errorCount());
    m_clock.advanceMs(10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(m_client->connected());
    m_clock.advanceMs(0.01);
    ASSERT_TRUE(m_view.waitCount(kEventNetworkErrors, 1));
    // The reconnect wait is long over, so the link may already be back: the server seeing a
    // second connection is what shows the first was dropped.
    EXPECT_TRUE(m_server->waitConnections(2));
}

TEST_F(clTest, AddressRotation)
{
    const std::string port = "Port=" + std::to_string(fakes::freeLoopbackPort()) + "\n";
    struct Case
    {
        std::string settings;
        std::vector<std::string> expected;
    };
    const std::string a = "127.0.0.5", b = "127.0.0.6", c = "127.0.0.7";
    std::vector<Case> cases = {
        {"Address=" + a + "\nAddress2=" + b + "\n", {a, b, a, a, b, a, a}},
        {"Address=" + a + "\nAddress3=" + c + "\n", {a, c, a, c, a, c, a}},
        {"Address=" + a + "\nAddress2=" + b + "\nAddress3=" + c + "\n", {a, b, c, a, b, c, a}},
        {"Address=" + a + "\nAddress2=127.0.0.1\n", {a, a, a, a, a, a, a}},
    };
    for (auto& tc : cases) {
        SCOPED_TRACE(tc.settings);
        m_client.reset();
        m_view.clear();
        writeSettings(tc.settings + port);
        startClient();
        ASSERT_TRUE(m_view.waitCount(kEventConnecting, 1));
        for (int i = 1; i < 7; ++i)
            nextAttempt(i);
        ASSERT_TRUE(fakes::eventually([&] { return m_view.addresses().size() == 7; }));
        EXPECT_EQ(tc.expected, m_view.addresses());
    }
}

TEST_F(clTest, PortIsReadBeforeEveryAttemptAndWrapsAt16Bits)
{
    writeSettings("Port=" + std::to_string(fakes::freeLoopbackPort()) + "\n");
    startClient();
    waitAttemptBegun(1); // the first attempt has read the settings
    writeSettings("Port=" + std::to_string(65536 + m_server->port()) + "\n");
    nextAttempt(1);
    EXPECT_TRUE(m_server->waitConnections(1));
}

TEST_F(clTest, AccessNoticeOnlyOnceAndNoAttemptWhileDisabled)
{
    writeSettings("Port=" + std::to_string(fakes::freeLoopbackPort()) + "\n");
    startClient();
    ASSERT_TRUE(m_view.waitCount(kEventConnecting, 1));
    m_client->setLinkEnabled(false);
    ASSERT_TRUE(m_view.waitCount(kEventAccessDenied, 1));
    m_clock.advanceMs(60000);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(1, m_view.count(kEventAccessDenied));
    EXPECT_EQ(1, m_view.count(kEventConnecting));
}

TEST_F(clTest, BacklogRecordWithCode0IsDeletedUnsent)
{
    {
        backlog::TBackSoob store(m_dir.path());
        store.setSubdirectoryName(backlog::kStoreDirectory);
        store.OpenStore();
        store.AddMessage(0, {'z', 'e', 'r', 'o'});
        store.AddMessage(kDataMessage, {'k', 'e', 'p', 't'});
    }
    pointAtServer();
    startClient();
    ASSERT_TRUE(m_server->waitForText("kept"));
    EXPECT_EQ(1u, m_server->framesWithCode(kDataMessage).size());
    EXPECT_TRUE(fakes::eventually([&] { return m_client->backlogCount() == 0; }));
}
