// tests/app/GatewayTest.cpp: start-up, trackers through the listener and the dispatcher to the
// client, and the orderly stop.
#include "app/Gateway.h"

#include <atomic>
#include <fstream>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "platform/MainThread.h"
#include "platform/Files.h"
#include "platform/Formats.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"

using fakes::Bytes;

namespace {

const std::string kImei = "356307042441013";

// On stop, notes how many messages the outbox held by then, and its thread reports one last
// event through the main-thread hand-over before it ends, as the real client may.
class FakeClient final : public msglink::LinkControl
{
public:
    FakeClient(msglink::LinkView& view, msglink::Outbox& outbox, std::vector<std::string>& events)
        : log(events), m_view(view), m_outbox(outbox)
    {
    }
    ~FakeClient() override
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    void requestStop() override
    {
        log.push_back("stop with " + std::to_string(m_outbox.depth()) + " stored");
        m_thread = std::thread([this] {
            platform::runOnMainThreadAndWait(
                [this] { m_view.appendLinkEvent("Доступ запрещен."); });
            m_finished = true;
        });
    }
    bool finished() const override { return m_finished; }
    bool connected() const override { return false; }
    bool authorised() const override { return false; }
    std::uint64_t turns() const override { return 0; }

    std::vector<std::string>& log; // outlives the client

private:
    msglink::LinkView& m_view;
    msglink::Outbox& m_outbox;
    std::atomic<bool> m_finished{false};
    std::thread m_thread;
};

class GatewayTest : public ::testing::Test
{
protected:
    void writeSettings(const std::string& text)
    {
        std::ofstream(m_dir.file("gpsbridge.ini")) << text;
    }

    void start()
    {
        app::GatewayOptions options;
        options.calibration = std::chrono::milliseconds(20);
        options.workingDirectory = m_dir.path();
        options.listener.receiveWaitMs = 20;
        options.listener.acceptWaitMs = 20;
        options.makeClient = [this](msglink::LinkView& view, msglink::Outbox& outbox,
                                    const app::Settings& settings) {
            m_gatewayNumber = settings.main.firstNumber;
            return std::make_unique<FakeClient>(view, outbox, m_clientLog);
        };
        m_gateway = std::make_unique<app::Gateway>(m_view, options);
        m_gateway->start();
    }

    // Runs dispatch ticks until pred holds, at most 3 s.
    template <typename Pred> bool dispatchUntil(Pred pred)
    {
        for (int i = 0; i < 300 && !pred(); ++i) {
            m_gateway->dispatchTick();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return pred();
    }

    fakes::TempDir m_dir;
    app::StatusView m_view;
    std::vector<std::string> m_clientLog; // before the gateway, whose stop still writes to it
    std::unique_ptr<app::Gateway> m_gateway;
    std::int32_t m_gatewayNumber = 0;
};

} // namespace

TEST_F(GatewayTest, StartUpTakesSettingsAndOpensThePort)
{
    writeSettings("[main]\nDefaultPort=0\nFirstNumber=300\ncaption=Склад\n");
    start();
    EXPECT_TRUE(platform::directoryExists(m_dir.file("log")));
    EXPECT_EQ(300, m_gatewayNumber);
    EXPECT_EQ("Склад", m_gateway->caption());
    EXPECT_EQ(app::PortState::Listening, m_view.portState());
    EXPECT_TRUE(std::regex_match(m_view.password(), std::regex("[1-9][0-9]{4}")));
    EXPECT_TRUE(std::regex_match(m_view.startTime(),
                                 std::regex("\\d\\d\\.\\d\\d\\.\\d{4} \\d{1,2}:\\d\\d:\\d\\d")));
    EXPECT_EQ(".", m_view.serverAddress());
    EXPECT_GT(platform::steadyClock().ticksPerMs(), 0);
}

TEST_F(GatewayTest, PortHeldByAnotherProgramTurnsTheLabelRed)
{
    platform::SocketHandle holder = platform::createTcpSocket();
    ASSERT_TRUE(platform::bindAny(holder, 0) && platform::listenMax(holder));
    std::uint16_t port = platform::localPort(holder);
    writeSettings("[main]\nDefaultPort=" + std::to_string(port) + "\n");
    start();
    EXPECT_EQ(port, m_view.port());
    EXPECT_EQ(app::PortState::Closed, m_view.portState());
    EXPECT_EQ(app::kDefaultCaption, m_gateway->caption());
    platform::closeSocket(holder);
}

TEST_F(GatewayTest, TrackersThroughListenerAndDispatcherToTheClient)
{
    writeSettings("[main]\nDefaultPort=0\n");
    start();
    fakes::TrackerClient tracker(m_gateway->listener().boundPort());
    ASSERT_TRUE(tracker.connected());
    Bytes id = fakes::makeIdentification(kImei);
    Bytes data = fakes::workedDataPacket();
    ASSERT_TRUE(tracker.send(id));
    ASSERT_EQ(3u, tracker.receive(3).size());
    ASSERT_TRUE(tracker.send(data));
    ASSERT_EQ(3u, tracker.receive(3).size());

    ASSERT_TRUE(dispatchUntil([&] { return m_gateway->outbox().depth() == 1; }));
    std::optional<msglink::OutgoingMessage> stored = m_gateway->outbox().oldest();
    ASSERT_TRUE(stored);
    EXPECT_EQ(fakes::kWorkedJson, std::string(stored->body.begin(), stored->body.end()));
    ASSERT_EQ(1u, m_gateway->table().size());
    EXPECT_TRUE(m_gateway->table().rows()[0].linked);
    EXPECT_EQ(2u, m_view.gridRowCount());

    tracker.close();
    EXPECT_TRUE(dispatchUntil([&] { return !m_gateway->table().rows()[0].linked; }));
    std::tm now = platform::localNow();
    std::string log = m_dir.read(platform::shortDate(now) + ".log");
    EXPECT_NE(std::string::npos,
              log.find(" 15440168440D03ECDE0F0326A809592700C202080E0C003400\r\n"));
}

TEST_F(GatewayTest, StopDispatchesWhatTrackersDeliveredThenStopsTheClient)
{
    writeSettings("[main]\nDefaultPort=0\n");
    start();
    {
        fakes::TrackerClient tracker(m_gateway->listener().boundPort());
        Bytes id = fakes::makeIdentification(kImei);
        ASSERT_TRUE(tracker.send(id));
        ASSERT_EQ(3u, tracker.receive(3).size());
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(tracker.send(fakes::workedDataPacket()));
            ASSERT_EQ(3u, tracker.receive(3).size()); // acknowledged: must reach the client
        }
    }
    m_gateway->stop(); // no dispatch tick ran before
    EXPECT_EQ(std::vector<std::string>{"stop with 5 stored"}, m_clientLog);
    EXPECT_EQ(nullptr, m_gateway->client());
    ASSERT_FALSE(m_view.events().empty());
    EXPECT_NE(std::string::npos, m_view.events().back().find("Доступ запрещен."));
}
