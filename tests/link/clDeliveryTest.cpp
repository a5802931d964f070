// tests/link/clDeliveryTest.cpp: no message the client was given is lost: full queues, failed
// exchanges, confirmations that answer something else, links lost mid-confirmation, messages
// before the thread runs, and messages still queued at the stop.
#include "link/cl.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>

#include "tests/link/ClientFixture.h"

using namespace msglink;
using fakes::ServerAnswer;
using fakes::ServerFrame;

class clDeliveryTest : public ClientFixture
{
protected:
    // Logs in, sends text live and leaves the server holding its reply until m_release.
    void sendAndHoldTheReply(const std::string& text)
    {
        m_server->setHandler([this, text](const ServerFrame& f) {
            if (f.text() == text)
                while (!m_release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return fakes::usualAnswer(f);
        });
        pointAtServer();
        startClient();
        ASSERT_TRUE(waitAuthorised());
        ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 4; }));
        m_client->SendText(text);
        ASSERT_TRUE(m_server->waitForText(text));
    }

    // B1 and B2 wait in the backlog before the link comes up. Once B1 is confirmed, B2 is held
    // back by the 20 ms pacing until the server, answering L1, moves the clock on; B2 is then
    // queued behind L2. other answers every frame but L1.
    void sendB2BehindL2(std::function<ServerAnswer(const ServerFrame&)> other)
    {
        m_server->setHandler([this, other](const ServerFrame& f) {
            if (f.text() != "L1")
                return other(f);
            while (!m_release) // until L2 is queued
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            m_clock.advanceMs(21);
            return fakes::answer(kPollReply, {0});
        });
        pointAtServer();
        storeBeforeStart({"B1", "B2"});
        msglink::ClientOptions o = options();
        o.confirmRewindTicks = 0;
        startClient(o);
        ASSERT_TRUE(m_server->waitForText("B1"));
        ASSERT_TRUE(fakes::eventually(
            [&] { return m_client->backlogCount() == 1 && !m_client->inFlight(); }));
        m_client->SendText("L1");
        m_client->SendText("L2");
        m_release = true;
    }

    std::size_t delivered(const std::string& text) const
    {
        std::size_t n = 0;
        for (auto& f : m_server->framesWithCode(kDataMessage))
            n += f.text() == text;
        return n;
    }
};

TEST_F(clDeliveryTest, MessagesBeforeTheThreadRunsAreKeptAndDelivered)
{
    m_server->setHandler([this](const ServerFrame& f) {
        while (f.code == kModuleIdentification && !m_release) // however slowly the test runs
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return fakes::usualAnswer(f);
    });
    pointAtServer();
    msglink::ClientOptions o = options();
    o.ticksPerMs = 0;
    o.calibration = std::chrono::milliseconds(300); // the thread is still calibrating
    startClient(o);
    m_client->SendText("early");
    EXPECT_EQ(1, m_client->backlogCount());
    m_release = true;
    EXPECT_TRUE(m_server->waitForText("early"));
}

TEST_F(clDeliveryTest, FullSendQueueKeepsTheRestInTheBacklog)
{
    sendAndHoldTheReply("m0");
    for (int i = 1; i <= 305; ++i)
        m_client->SendText("m" + std::to_string(i));
    EXPECT_EQ(5, m_client->backlogCount());
    m_release = true;
    ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 4 + 306; }, 10000));
    for (int i = 0; i <= 305; ++i)
        EXPECT_EQ(1u, delivered("m" + std::to_string(i))) << i;
    EXPECT_TRUE(fakes::eventually([&] { return m_client->backlogCount() == 0; }));
}

TEST_F(clDeliveryTest, LiveMessageOfAFailedExchangeGoesToTheBacklog)
{
    Bytes brokenEnvelope(msglink::kEnvelopeSize, 0);
    brokenEnvelope[0] = 0x55;
    const std::vector<std::pair<std::string, ServerAnswer>> failures = {
        {"peer closes", fakes::closeConnection()},
        {"no reply", fakes::silence()},
        {"broken envelope", ServerAnswer{ServerAnswer::Kind::Raw, brokenEnvelope}},
    };
    for (const auto& [name, failure] : failures) {
        SCOPED_TRACE(name);
        m_client.reset();
        m_view.clear();
        m_server = std::make_unique<fakes::FakeMessageServer>([failure](const ServerFrame& f) {
            if (f.text() == "lost?" && f.connection == 1)
                return failure;
            return fakes::usualAnswer(f);
        });
        fakes::TempDir dir;
        writeSettings("Address=127.0.0.1\nPort=" + std::to_string(m_server->port()) + "\n");
        startClient();
        ASSERT_TRUE(waitAuthorised());
        const int errorsBefore = m_client->errorCount();
        m_client->SendText("lost?");
        ASSERT_TRUE(fakes::eventually([&] { return !m_client->connected(); }));
        EXPECT_EQ(1, m_client->backlogCount());
        EXPECT_EQ(errorsBefore + 1, m_client->errorCount());
        nextAttempt(1);
        ASSERT_TRUE(m_server->waitForText("lost?", 2));
        EXPECT_TRUE(fakes::eventually([&] { return m_client->backlogCount() == 0; }));
    }
}

TEST_F(clDeliveryTest, BacklogMessagesArePacedMoreThan20MsApart)
{
    pointAtServer();
    msglink::ClientOptions o = options();
    o.confirmRewindTicks = 0;
    storeBeforeStart({"first", "second"});
    startClient(o);
    ASSERT_TRUE(m_server->waitForText("first"));
    ASSERT_TRUE(
        fakes::eventually([&] { return m_client->backlogCount() == 1 && !m_client->inFlight(); }));
    m_clock.advanceMs(20);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(0u, delivered("second"));
    m_clock.advanceMs(0.01);
    EXPECT_TRUE(fakes::eventually([&] { return delivered("second") == 1; }));
}

TEST_F(clDeliveryTest, ConfirmationOfAFrameAheadOfTheBacklogFrameDoesNotRemoveIt)
{
    // The reply to L2 carries a confirmation; B2's own reply confirms nothing, so its record
    // must still be there afterwards.
    auto b2Seen = std::make_shared<std::atomic<int>>(0); // the server may outlive the test body
    sendB2BehindL2([b2Seen](const ServerFrame& f) {
        if (f.text() == "B2" && ++*b2Seen == 1)
            return fakes::answer(kPollReply, {0});
        return fakes::usualAnswer(f);
    });
    ASSERT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 8; }));
    std::vector<std::string> data;
    for (auto& f : m_server->framesWithCode(kDataMessage))
        data.push_back(f.text());
    EXPECT_EQ((std::vector<std::string>{"B1", "L1", "L2", "B2"}), data);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(1, m_client->backlogCount()); // L2's confirmation did not take B2's record
    m_clock.advanceMs(10001);               // unconfirmed: B2 goes again and is confirmed this time
    EXPECT_TRUE(fakes::eventually([&] { return m_client->backlogCount() == 0; }));
    EXPECT_EQ(2, b2Seen->load());
}

TEST_F(clDeliveryTest, BacklogFrameStillQueuedWhenTheLinkDropsGoesAfterTheNextLogin)
{
    // The server closes on L2 while B2 waits behind it: the old frame of B2 must not go out
    // ahead of the next login, and live sending must not wait for it.
    sendB2BehindL2([](const ServerFrame& f) {
        if (f.text() == "L2" && f.connection == 1)
            return fakes::closeConnection();
        return fakes::usualAnswer(f);
    });
    ASSERT_TRUE(fakes::eventually([&] { return !m_client->connected(); }));
    nextAttempt(1);
    ASSERT_TRUE(fakes::eventually([&] {
        return delivered("B2") == 1 && m_client->backlogCount() == 1 && !m_client->inFlight();
    }));
    m_clock.advanceMs(21); // B2 confirmed; the pacing lets the kept L2 follow
    ASSERT_TRUE(fakes::eventually([&] { return m_client->backlogCount() == 0; }));
    m_client->SendText("L3");
    ASSERT_TRUE(m_server->waitForText("L3"));
    std::vector<ServerFrame> second;
    for (auto& f : m_server->frames())
        if (f.connection == 2)
            second.push_back(f);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(kModuleIdentification, second[0].code);
    EXPECT_EQ(1u, delivered("B2"));
    EXPECT_EQ(2u, delivered("L2")); // lost with the link, kept, sent again
}

TEST_F(clDeliveryTest, BacklogMessageUnconfirmedWhenTheLinkDropsIsSentAgain)
{
    m_server->setHandler([](const ServerFrame& f) {
        if (f.text() == "stored" && f.connection == 1)
            return fakes::silence(); // the link dies before the confirmation
        return fakes::usualAnswer(f);
    });
    pointAtServer();
    storeBeforeStart({"stored"});
    startClient();
    ASSERT_TRUE(m_server->waitForText("stored"));
    ASSERT_TRUE(fakes::eventually([&] { return !m_client->connected() && !m_client->inFlight(); }));
    EXPECT_EQ(1, m_client->backlogCount());
    nextAttempt(1);
    ASSERT_TRUE(m_server->waitForText("stored", 2));
    EXPECT_TRUE(fakes::eventually([&] { return m_client->backlogCount() == 0; }));
    m_client->SendText("live again");
    EXPECT_TRUE(m_server->waitForText("live again"));
}

TEST_F(clDeliveryTest, FramesWaitingWhileFramesAreQueuedGoWithoutThePause)
{
    pointAtServer();
    msglink::ClientOptions o = options();
    o.idlePauseMs = 3000; // a pause after every frame would take minutes
    startClient(o);
    ASSERT_TRUE(waitAuthorised());
    for (int i = 0; i < 20; ++i)
        m_client->SendText("fast" + std::to_string(i));
    EXPECT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 24; }, 8000));
}

TEST_F(clDeliveryTest, MessagesStillQueuedAtTheStopAreKept)
{
    sendAndHoldTheReply("first");
    m_client->SendText("second");
    m_client->SendText("third");
    m_client->requestStop();
    m_release = true;
    m_client->join();
    EXPECT_EQ(2, m_client->backlogCount());

    // The next run delivers them.
    m_client.reset();
    startClient();
    EXPECT_TRUE(m_server->waitForText("third"));
    EXPECT_EQ(1u, delivered("second"));
}

TEST_F(clDeliveryTest, BacklogMessageNeverConfirmedOnALiveLinkIsSentAgain)
{
    auto seen = std::make_shared<std::atomic<int>>(0);
    m_server->setHandler([seen](const ServerFrame& f) {
        if (f.text() == "stored" && ++*seen == 1)
            return fakes::answer(kEchoRequest); // the reply slot holds no confirmation
        return fakes::usualAnswer(f);
    });
    pointAtServer();
    storeBeforeStart({"stored"});
    startClient();
    ASSERT_TRUE(m_server->waitFor([](auto& f) {
        return std::any_of(f.begin(), f.end(), [](auto& x) { return x.code == kEchoReply; });
    }));
    m_clock.advanceMs(10000);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(m_client->inFlight());
    EXPECT_EQ(1u, delivered("stored"));
    m_clock.advanceMs(1);
    ASSERT_TRUE(fakes::eventually([&] { return delivered("stored") == 2; }));
    EXPECT_TRUE(fakes::eventually([&] { return m_client->backlogCount() == 0; }));
    EXPECT_TRUE(m_client->connected());
}
