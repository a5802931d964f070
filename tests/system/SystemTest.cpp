// tests/system/SystemTest.cpp: the real gateway, headless, with the tracker simulator and the
// test message server, each its own process, in a scratch directory.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Socket.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/Process.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"
#include "tests/system/Deliveries.h"

using namespace std::chrono_literals;
using namespace systemtest;

namespace {

class SystemTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_trackerPort = fakes::freeLoopbackPort();
        do
            m_serverPort = fakes::freeLoopbackPort();
        while (m_serverPort == m_trackerPort);
        writeSettings();
    }

    void writeSettings()
    {
        std::ofstream(m_dir.file("gpsbridge.ini"))
            << "[main]\nDefaultPort=" << m_trackerPort << "\n[ServerHost]\nAddress=127.0.0.1\n"
            << "Port=" << m_serverPort << "\n";
    }

    std::unique_ptr<fakes::Process> startServer(const std::string& output)
    {
        auto p = std::make_unique<fakes::Process>(
            MSGSERVER_BINARY,
            std::vector<std::string>{"--port", std::to_string(m_serverPort), "--quiet"},
            m_dir.path(), m_dir.file(output), m_dir.file(output + ".err"));
        EXPECT_TRUE(waitListening(m_serverPort)) << "msgserver does not listen";
        return p;
    }

    std::unique_ptr<fakes::Process> startGateway()
    {
        auto p = std::make_unique<fakes::Process>(
            GPSBRIDGE_BINARY, std::vector<std::string>{"--headless"}, m_dir.path(),
            m_dir.file("gateway.out"), m_dir.file("gateway.err"));
        EXPECT_TRUE(waitListening(m_trackerPort)) << "the gateway does not listen";
        return p;
    }

    std::unique_ptr<fakes::Process> startSimulator(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--port", std::to_string(m_trackerPort), "--acked",
                                 m_dir.file("acked.txt"), "--quiet"});
        return std::make_unique<fakes::Process>(GT20SIM_BINARY, args, m_dir.path(),
                                                m_dir.file("sim.out"), m_dir.file("sim.err"));
    }

    bool allDelivered(const std::vector<std::string>& outputs, std::chrono::seconds limit)
    {
        return systemtest::allDelivered(m_dir, "acked.txt", outputs, limit);
    }

    fakes::TempDir m_dir;
    std::uint16_t m_trackerPort = 0;
    std::uint16_t m_serverPort = 0;
};

} // namespace

TEST_F(SystemTest, WorkedExampleArrivesAsItsJson)
{
    auto server = startServer("server.out");
    auto gateway = startGateway();
    fakes::TrackerClient tracker(m_trackerPort);
    ASSERT_TRUE(tracker.send(fakes::makeIdentification("356307042441013")));
    ASSERT_EQ(3u, tracker.receive(3).size());
    ASSERT_TRUE(tracker.send(fakes::workedDataPacket()));
    ASSERT_EQ(3u, tracker.receive(3).size());
    const std::string& expected = fakes::kWorkedJson;
    std::vector<std::string> out;
    for (int i = 0; i < 200 && out.empty(); ++i) {
        std::this_thread::sleep_for(50ms);
        out = lines(m_dir.read("server.out"));
    }
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(expected, out[0]);
    EXPECT_TRUE(gateway->terminate(8s).has_value());
}

TEST_F(SystemTest, MessagesOfAServerGapComeFromTheBacklog)
{
    auto server = startServer("server1.out");
    auto gateway = startGateway();
    auto sim =
        startSimulator({"--trackers", "3", "--records", "2", "--interval", "0.2", "--count", "30"});
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(server->terminate(5s).has_value());
    std::this_thread::sleep_for(1500ms);
    auto server2 = startServer("server2.out");
    ASSERT_EQ(0, sim->wait(60s).value_or(-1)) << m_dir.read("sim.out");
    EXPECT_TRUE(allDelivered({"server1.out", "server2.out"}, 60s));
    EXPECT_FALSE(lines(m_dir.read("server2.out")).empty());
    EXPECT_TRUE(gateway->terminate(8s).has_value());
}

TEST_F(SystemTest, RestartedGatewayDeliversItsBacklog)
{
    {
        auto gateway = startGateway(); // the server is away
        auto sim = startSimulator(
            {"--trackers", "2", "--records", "3", "--interval", "0.1", "--count", "10"});
        ASSERT_EQ(0, sim->wait(60s).value_or(-1)) << m_dir.read("sim.out");
        ASSERT_TRUE(gateway->terminate(8s).has_value());
    }
    EXPECT_TRUE(std::filesystem::exists(m_dir.file("dd8/backsoob.dat")));
    auto server = startServer("server.out");
    auto gateway = startGateway();
    EXPECT_TRUE(allDelivered({"server.out"}, 60s));
    EXPECT_TRUE(gateway->terminate(8s).has_value());
}

TEST_F(SystemTest, SigtermEndsTheGatewayInOrderAndKeepsWhatItHeld)
{
    auto server = startServer("server.out");
    auto gateway = startGateway();
    auto sim = startSimulator({"--trackers", "5", "--interval", "0.05", "--duration", "60"});
    for (int i = 0; i < 200 && lines(m_dir.read("server.out")).size() < 10; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_GE(lines(m_dir.read("server.out")).size(), 10u);
    ASSERT_TRUE(gateway->terminate(8s).has_value());
    ASSERT_TRUE(sim->stop(5s));
    std::string log;
    for (auto& entry : std::filesystem::directory_iterator(m_dir.path()))
        if (entry.path().extension() == ".log")
            log += m_dir.read(entry.path().filename().string());
    auto count = [&](const std::string& word) {
        std::size_t n = 0;
        for (auto& l : lines(log))
            n += l.find(word) != std::string::npos;
        return n;
    };
    EXPECT_EQ(count(" Connect "), count(" Disconnect "));
    EXPECT_GE(count(" Connect "), 5u);
    // What the trackers had acknowledged and the link had not yet sent was kept in the
    // backlog: the next start delivers it.
    gateway = startGateway();
    EXPECT_TRUE(allDelivered({"server.out"}, 30s));
    EXPECT_TRUE(gateway->terminate(8s).has_value());
}

TEST_F(SystemTest, TwoHundredTrackersAtOnceLoseNothing)
{
    auto server = startServer("server.out");
    auto gateway = startGateway();
    auto sim = startSimulator(
        {"--trackers", "200", "--records", "2", "--interval", "0.5", "--count", "4"});
    ASSERT_EQ(0, sim->wait(90s).value_or(-1)) << m_dir.read("sim.out");
    EXPECT_TRUE(allDelivered({"server.out"}, 60s));
    EXPECT_EQ(1600u, acknowledged(m_dir.read("acked.txt")).size());
    EXPECT_TRUE(gateway->terminate(8s).has_value());
}
