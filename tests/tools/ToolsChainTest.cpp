// tests/tools/ToolsChainTest.cpp: the simulator's trackers through the gateway, in one process,
// to the test message server: every record the gateway acknowledged comes out as a message.
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "app/Gateway.h"
#include "platform/MainThread.h"
#include "tests/app/LoopbackGateway.h"
#include "tests/fakes/TempDir.h"
#include "tools/gt20sim/Simulation.h"
#include "tools/msgserver/MessageServer.h"

namespace {

using Record = std::pair<std::string, std::string>; // IMEI, time as the message writes it

std::set<Record> ackedRecords(const std::string& log)
{
    std::set<Record> out;
    std::istringstream in(log);
    std::string imei;
    std::uint32_t seconds = 0;
    std::int64_t ackedAtUs = 0;
    while (in >> imei >> seconds >> ackedAtUs)
        out.insert({imei, gt20sim::messageTimeText(seconds)});
    return out;
}

std::set<Record> messageRecords(const std::vector<std::string>& messages)
{
    static const std::regex imei(R"re("imei":"([^"]*)")re"), time(R"re("time":"([^"]*)")re");
    std::set<Record> out;
    for (const std::string& m : messages) {
        std::smatch i, t;
        if (std::regex_search(m, i, imei) && std::regex_search(m, t, time))
            out.insert({i[1], t[1]});
    }
    return out;
}

class ToolsChainTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        msgserver::MessageServer::Output output;
        output.message = [this](const std::string& m) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(m);
        };
        msgserver::ServerOptions options;
        options.port = 0;
        m_server = std::make_unique<msgserver::MessageServer>(options, output);
        ASSERT_TRUE(m_server->listen());
        m_serverThread = std::thread([this] { m_server->run(m_stopServer); });
        std::ofstream(m_dir.file("gpsbridge.ini"))
            << "[main]\nDefaultPort=0\n[ServerHost]\nPort=" << m_server->port() << "\n";
    }

    void TearDown() override
    {
        m_stopServer = true;
        if (m_serverThread.joinable())
            m_serverThread.join();
    }

    std::unique_ptr<app::Gateway> startGateway()
    {
        return fakes::startedGateway(m_view, fakes::loopbackGatewayOptions(m_dir.path()));
    }

    std::vector<std::string> messages()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }

    fakes::TempDir m_dir;
    app::StatusView m_view;
    std::unique_ptr<msgserver::MessageServer> m_server;
    std::atomic<bool> m_stopServer{false};
    std::thread m_serverThread;
    std::mutex m_mutex;
    std::vector<std::string> m_messages; // guarded by m_mutex
};

} // namespace

TEST_F(ToolsChainTest, EveryAcknowledgedRecordReachesTheServer)
{
    auto gateway = startGateway();
    ASSERT_TRUE(gateway->listening());
    gt20sim::SimOptions sim =
        gt20sim::parseSimOptions({"--port", std::to_string(gateway->listener().boundPort()),
                                  "--trackers", "3", "--records", "4", "--interval", "0.01",
                                  "--count", "5", "--ack-timeout-ms", "2000"})
            .options;
    gt20sim::AckedLog acked;
    ASSERT_TRUE(acked.open(m_dir.file("acked.txt")));
    std::atomic<bool> simDone{false}, stopSim{false};
    gt20sim::Totals totals;
    std::thread simThread([&] {
        totals = gt20sim::runSimulation(sim, 11, &acked, stopSim);
        simDone = true;
    });

    // The main thread runs the gateway's dispatch ticks and the client's hand-overs meanwhile.
    const std::size_t expected = 3 * 5 * 4;
    for (int i = 0; i < 2000 && !(simDone && messages().size() >= expected); ++i) {
        gateway->dispatchTick();
        platform::serveMainThreadFor(10);
    }
    stopSim = true;
    simThread.join();
    gateway->stop();

    EXPECT_EQ(0, gt20sim::exitCode(totals)) << gt20sim::summaryText(totals, false);
    EXPECT_EQ(15u, totals.acknowledged);
    std::set<Record> fromTrackers = ackedRecords(m_dir.read("acked.txt"));
    EXPECT_EQ(expected, fromTrackers.size());
    EXPECT_EQ(fromTrackers, messageRecords(messages()));
    EXPECT_EQ(expected, m_server->counts().dataMessages); // nothing twice on a quiet link
    EXPECT_EQ(1u, m_server->counts().logins);
}
