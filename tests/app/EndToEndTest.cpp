// tests/app/EndToEndTest.cpp: a tracker over a real socket through listener, dispatcher and
// client to a fake message server, with the backlog in between while the server is away.
#include <atomic>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "app/Gateway.h"
#include "platform/MainThread.h"
#include "tests/app/LoopbackGateway.h"
#include "tests/fakes/FakeClock.h"
#include "tests/fakes/FakeMessageServer.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"

using fakes::Bytes;
using fakes::ServerFrame;

namespace {

const std::string& kImei = fakes::kWorkedImei;
const std::string& kWorkedJson = fakes::kWorkedJson;

// The worked data packet with its speed changed, so that each message can be told apart.
Bytes dataWithSpeed(std::uint8_t speed)
{
    Bytes p = fakes::workedDataPacket();
    Bytes body(p.begin() + 2, p.end() - 2);
    body[19] = speed;
    return fakes::makePacket(2, body, 1);
}

class EndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fakes::FakeMessageServer probe; // a free port, closed again: the server is away
        m_serverPort = probe.port();
        std::ofstream(m_dir.file("gpsbridge.ini"))
            << "[main]\nDefaultPort=0\n[ServerHost]\nPort=" << m_serverPort << "\n";
    }

    std::unique_ptr<app::Gateway> startGateway(app::StatusView& view)
    {
        msglink::ClientOptions client;
        client.clock = &m_clientClock;
        client.replyWaitMs = 1500;
        client.idlePauseMs = 2;
        return fakes::startedGateway(view, fakes::loopbackGatewayOptions(m_dir.path(), client));
    }

    // Runs the main thread (dispatch ticks and the client's hand-overs) until pred holds.
    template <typename Pred> bool runUntil(app::Gateway& gateway, Pred pred, int waitMs = 5000)
    {
        for (int i = 0; i < waitMs / 10 && !pred(); ++i) {
            gateway.dispatchTick();
            platform::serveMainThreadFor(10);
        }
        return pred();
    }

    static std::vector<std::string> dataTexts(const fakes::FakeMessageServer& server)
    {
        std::vector<std::string> out;
        for (auto& f : server.framesWithCode(msglink::kDataMessage))
            out.push_back(f.text());
        return out;
    }

    fakes::TempDir m_dir;
    fakes::FakeClock m_clientClock;
    std::uint16_t m_serverPort = 0;
};

} // namespace

TEST_F(EndToEndTest, WorkedExampleReachesTheServerLive)
{
    fakes::FakeMessageServer server(fakes::usualAnswer, m_serverPort);
    app::StatusView view;
    auto gateway = startGateway(view);
    // Waiting here must keep the main thread running: the client hands its events over to it.
    ASSERT_TRUE(runUntil(*gateway, [&] { return server.frames().size() >= 4; }));

    fakes::TrackerClient tracker(gateway->listener().boundPort());
    ASSERT_TRUE(tracker.send(fakes::makeIdentification(kImei)));
    ASSERT_EQ(3u, tracker.receive(3).size());
    ASSERT_TRUE(tracker.send(fakes::workedDataPacket()));
    ASSERT_EQ(3u, tracker.receive(3).size());
    ASSERT_TRUE(runUntil(*gateway, [&] { return !dataTexts(server).empty(); }));
    EXPECT_EQ(std::vector<std::string>{kWorkedJson}, dataTexts(server));
    EXPECT_EQ(0, gateway->outbox().depth());
    EXPECT_NE(std::string::npos, view.events().back().find("Соединение установлено."));
    gateway->stop();
}

TEST_F(EndToEndTest, BacklogWhileTheServerIsAwayWaitsForEachConfirmation)
{
    std::vector<std::string> expected;
    {
        app::StatusView view;
        auto gateway = startGateway(view);
        fakes::TrackerClient tracker(gateway->listener().boundPort());
        ASSERT_TRUE(tracker.send(fakes::makeIdentification(kImei)));
        ASSERT_EQ(3u, tracker.receive(3).size());
        for (std::uint8_t speed = 1; speed <= 3; ++speed) {
            ASSERT_TRUE(tracker.send(dataWithSpeed(speed)));
            ASSERT_EQ(3u, tracker.receive(3).size());
            std::string json = kWorkedJson;
            json.replace(json.find("\"speed\":12"), 10, "\"speed\":" + std::to_string(speed));
            expected.push_back(json);
        }
        ASSERT_TRUE(runUntil(*gateway, [&] { return gateway->outbox().depth() == 3; }));

        // The server comes back but confirms nothing: one message goes and the rest wait.
        fakes::FakeMessageServer server(
            [](const ServerFrame& f) {
                return f.code == msglink::kDataMessage ? fakes::answer(msglink::kPollReply, {0})
                                                       : fakes::usualAnswer(f);
            },
            m_serverPort);
        m_clientClock.advanceMs(5001);
        ASSERT_TRUE(runUntil(*gateway, [&] { return dataTexts(server).size() == 1; }));
        for (std::size_t polls = 1; polls <= 3; ++polls) {
            m_clientClock.advanceMs(501); // polls, answered without a confirmation
            ASSERT_TRUE(runUntil(
                *gateway, [&] { return server.framesWithCode(msglink::kPoll).size() >= polls; }));
        }
        EXPECT_EQ(std::vector<std::string>{expected[0]}, dataTexts(server));

        // A confirmation in a poll reply releases the next one, and only the next one.
        auto confirmed = std::make_shared<std::atomic<bool>>(false);
        server.setHandler([confirmed](const ServerFrame& f) {
            if (f.code == msglink::kPoll && !confirmed->exchange(true))
                return fakes::answer(0x03000005);
            return fakes::answer(msglink::kPollReply, {0});
        });
        m_clientClock.advanceMs(501);
        ASSERT_TRUE(runUntil(*gateway, [&] { return dataTexts(server).size() == 2; }));
        EXPECT_EQ(expected[1], dataTexts(server)[1]);
        EXPECT_EQ(2, gateway->outbox().depth());
        gateway->stop();
    }

    // A new gateway on the same directory delivers what the old one left.
    fakes::FakeMessageServer server(fakes::usualAnswer, m_serverPort);
    app::StatusView view;
    auto gateway = startGateway(view);
    ASSERT_TRUE(runUntil(*gateway, [&] { return gateway->outbox().depth() == 0; }));
    EXPECT_EQ((std::vector<std::string>{expected[1], expected[2]}), dataTexts(server));
    gateway->stop();
}
