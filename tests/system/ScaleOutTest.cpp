// tests/system/ScaleOutTest.cpp: two gateways, each with its own number, working directory and
// backlog, behind HAProxy in TCP mode, in front of one message server; one gateway is killed
// halfway and restarted, as its service manager would.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "tests/fakes/Process.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"
#include "tests/system/Deliveries.h"

using namespace std::chrono_literals;
using namespace systemtest;

namespace {

constexpr int kTrackers = 200;
constexpr int kPackets = 20;
constexpr int kRecords = 2;

std::string haproxyBinary()
{
    for (const char* p : {"/usr/sbin/haproxy", "/usr/bin/haproxy", "/usr/local/sbin/haproxy"})
        if (std::filesystem::exists(p))
            return p;
    return {};
}

// Free loopback ports, all different.
std::vector<std::uint16_t> freePorts(std::size_t n)
{
    std::vector<std::uint16_t> ports;
    while (ports.size() < n) {
        std::uint16_t p = fakes::freeLoopbackPort();
        if (std::find(ports.begin(), ports.end(), p) == ports.end())
            ports.push_back(p);
    }
    return ports;
}

class ScaleOutTest : public ::testing::Test
{
protected:
    struct Gateway
    {
        std::string name;
        int number = 0;
        std::uint16_t port = 0;
        std::unique_ptr<fakes::Process> process;
    };

    void writeGateway(Gateway& g)
    {
        std::filesystem::create_directories(m_dir.file(g.name));
        std::ofstream(m_dir.file(g.name + "/gpsbridge.ini"))
            << "[main]\nDefaultPort=" << g.port << "\nFirstNumber=" << g.number
            << "\n[ServerHost]\nAddress=127.0.0.1\nPort=" << m_serverPort << "\n";
    }

    void startGateway(Gateway& g)
    {
        g.process = std::make_unique<fakes::Process>(
            GPSBRIDGE_BINARY, std::vector<std::string>{"--headless", "--workdir", g.name},
            m_dir.path(), m_dir.file(g.name + ".out"), m_dir.file(g.name + ".err"));
        ASSERT_TRUE(waitListening(g.port)) << m_dir.read(g.name + ".err");
    }

    // TCP mode; a server that fails its check or a connect is left for the other one.
    void writeBalancer()
    {
        std::ofstream(m_dir.file("haproxy.cfg"))
            << "global\n  maxconn 4000\n"
            << "defaults\n  mode tcp\n  timeout connect 2s\n  timeout client 5m\n"
            << "  timeout server 5m\n  retries 3\n  option redispatch\n"
            << "frontend trackers\n  bind 127.0.0.1:" << m_frontPort << "\n"
            << "  default_backend gateways\n"
            << "backend gateways\n  balance roundrobin\n"
            << "  server " << m_gateways[0].name << " 127.0.0.1:" << m_gateways[0].port
            << " check inter 300ms fall 2 rise 2\n"
            << "  server " << m_gateways[1].name << " 127.0.0.1:" << m_gateways[1].port
            << " check inter 300ms fall 2 rise 2\n";
    }

    std::size_t ackedRecords() const { return lines(m_dir.read("acked.txt")).size(); }

    fakes::TempDir m_dir;
    std::uint16_t m_frontPort = 0;
    std::uint16_t m_serverPort = 0;
    Gateway m_gateways[2];
};

} // namespace

TEST_F(ScaleOutTest, KilledGatewaysTrackersMoveToTheOtherAndEveryAcknowledgedRecordArrives)
{
    const std::string haproxy = haproxyBinary();
    if (haproxy.empty())
        GTEST_SKIP() << "haproxy is not installed (apt-get install haproxy, or make deps); the "
                        "scale-out test runs the real balancer";
    auto ports = freePorts(4);
    m_frontPort = ports[0];
    m_serverPort = ports[1];
    m_gateways[0] = {"gw41", 41, ports[2], nullptr};
    m_gateways[1] = {"gw42", 42, ports[3], nullptr};

    fakes::Process server(MSGSERVER_BINARY, {"--port", std::to_string(m_serverPort)}, m_dir.path(),
                          m_dir.file("server.out"), m_dir.file("server.err"));
    ASSERT_TRUE(waitListening(m_serverPort));
    for (Gateway& g : m_gateways) {
        writeGateway(g);
        startGateway(g);
    }
    writeBalancer();
    fakes::Process balancer(haproxy, {"-db", "-f", m_dir.file("haproxy.cfg")}, m_dir.path(),
                            m_dir.file("haproxy.out"), m_dir.file("haproxy.err"));
    ASSERT_TRUE(waitListening(m_frontPort)) << m_dir.read("haproxy.err");

    fakes::Process sim(GT20SIM_BINARY,
                       {"--port", std::to_string(m_frontPort), "--trackers",
                        std::to_string(kTrackers), "--records", std::to_string(kRecords),
                        "--interval", "0.5", "--count", std::to_string(kPackets), "--acked",
                        m_dir.file("acked.txt"), "--quiet"},
                       m_dir.path(), m_dir.file("sim.out"), m_dir.file("sim.err"));
    const std::size_t planned = kTrackers * kPackets * kRecords;
    ASSERT_TRUE(fakes::eventually([&] { return ackedRecords() >= planned / 2; }, 90000))
        << ackedRecords() << " of " << planned << " records acknowledged";

    Gateway& victim = m_gateways[0];
    ::kill(victim.process->pid(), SIGKILL);
    victim.process->wait(10s);
    const std::size_t ackedAtKill = ackedRecords();

    // The trackers it served reconnect through the balancer and go on with the other gateway.
    sim.wait(120s);
    EXPECT_GT(ackedRecords(), ackedAtKill + planned / 4) << m_dir.read("sim.out");

    // Restarted in its own directory, the killed gateway sends what its backlog kept.
    startGateway(victim);
    EXPECT_TRUE(allDelivered(m_dir, "acked.txt", {"server.out"}, 90s))
        << "server:\n"
        << m_dir.read("server.err") << "\nrestarted " << victim.name << ":\n"
        << m_dir.read(victim.name + ".out") << "\nsimulator:\n"
        << m_dir.read("sim.out");
    std::string logins = m_dir.read("server.err");
    for (const Gateway& g : m_gateways)
        EXPECT_NE(std::string::npos,
                  logins.find("first number " + std::to_string(g.number) + " on connection "))
            << g.name << " never logged in with its own number";

    for (Gateway& g : m_gateways)
        EXPECT_TRUE(g.process->terminate(10s).has_value()) << g.name;
}
