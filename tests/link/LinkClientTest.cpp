// tests/link/LinkClientTest.cpp: the client's thread end to end, over real loopback sockets against
// a fake message server: the turns run on their own, messages handed over before the thread has
// started are kept, frames that wait go without the pause, and the stop keeps what is queued.
#include "link/LinkClient.h"

#include <thread>

#include "tests/link/ClientFixture.h"

using namespace msglink;
using fakes::ServerFrame;

class LinkClientTest : public ClientFixture
{
protected:
    std::size_t delivered(const std::string& text) const
    {
        std::size_t n = 0;
        for (auto& f : m_server->framesWithCode(kDataMessage))
            n += f.text() == text;
        return n;
    }
};

TEST_F(LinkClientTest, DeliversBackloggedEarlyAndLiveMessages)
{
    pointAtServer();
    storeBeforeStart({"stored"});
    msglink::ClientOptions o = options();
    o.clock = &platform::steadyClock();
    startClient(o);
    ASSERT_TRUE(m_outbox->openTried());
    EXPECT_TRUE(m_outbox->storeMessage("early"));
    EXPECT_EQ(2, m_outbox->depth());
    ASSERT_TRUE(waitAuthorised());
    ASSERT_TRUE(m_server->waitForText("early"));
    EXPECT_EQ(1u, delivered("stored"));
    ASSERT_TRUE(fakes::eventually([&] { return m_outbox->depth() == 0; }));
    m_outbox->storeMessage("live");
    EXPECT_TRUE(m_server->waitForText("live"));
    EXPECT_GT(m_client->turns(), 0u);
}

TEST_F(LinkClientTest, FramesWaitingWhileFramesAreQueuedGoWithoutThePause)
{
    pointAtServer();
    msglink::ClientOptions o = options();
    o.idlePauseMs = 1000; // a pause after every frame would take 20 s
    startClient(o);
    ASSERT_TRUE(waitAuthorised());
    for (int i = 0; i < 20; ++i)
        m_outbox->storeMessage("fast" + std::to_string(i));
    EXPECT_TRUE(m_server->waitFor([](auto& f) { return f.size() >= 24; }, 8000));
}

TEST_F(LinkClientTest, MessagesStillQueuedAtTheStopAreKept)
{
    m_server->setHandler([this](const ServerFrame& f) {
        if (f.text() == "first")
            while (!m_release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return fakes::usualAnswer(f);
    });
    pointAtServer();
    startClient();
    ASSERT_TRUE(waitAuthorised());
    m_outbox->storeMessage("first");
    ASSERT_TRUE(m_server->waitForText("first"));
    m_outbox->storeMessage("second");
    m_outbox->storeMessage("third");
    m_client->requestStop();
    m_release = true;
    m_client->join();
    EXPECT_TRUE(m_client->finished());
    EXPECT_EQ(2, m_outbox->depth());

    // The next run delivers them.
    m_client.reset();
    startClient();
    EXPECT_TRUE(m_server->waitForText("third"));
    EXPECT_EQ(1u, delivered("second"));
}
