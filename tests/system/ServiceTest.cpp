// tests/system/ServiceTest.cpp: the real gateway as a service runs it: systemd's notifications,
// a closed standard output, SIGHUP, a taken tracker port, --workdir, --check-config, the
// metrics endpoint and its status page.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "link/FrameFormat.h"
#include "platform/Socket.h"
#include "tests/app/HttpGet.h"
#include "tests/fakes/FakeMessageServer.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/Process.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"
#include "tests/system/Deliveries.h"

using namespace std::chrono_literals;
using systemtest::lines;
using systemtest::waitListening;

namespace {

// The service manager's end of NOTIFY_SOCKET: a datagram socket in the scratch directory.
class NotifySocket
{
public:
    explicit NotifySocket(const std::string& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        path.copy(addr.sun_path, sizeof addr.sun_path - 1);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }

    bool bound() const { return m_bound; }

    // Waits until atLeast received state lines begin with prefix, at most limit; every line
    // read meanwhile is kept.
    bool waitFor(const std::string& prefix, std::chrono::milliseconds limit,
                 std::size_t atLeast = 1)
    {
        const auto arrived = [&] {
            char buf[512];
            for (ssize_t n; (n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
                for (auto& line : lines(std::string(buf, static_cast<std::size_t>(n))))
                    m_states.push_back(line);
            return count(prefix) >= atLeast;
        };
        return fakes::eventually(arrived, static_cast<int>(limit.count()));
    }

    std::size_t count(const std::string& prefix) const
    {
        return std::count_if(m_states.begin(), m_states.end(),
                             [&](auto& s) { return s.rfind(prefix, 0) == 0; });
    }

private:
    int m_fd = -1;
    bool m_bound = false;
    std::vector<std::string> m_states;
};

class ServiceTest : public ::testing::Test
{
protected:
    void SetUp() override { m_trackerPort = fakes::freeLoopbackPort(); }

    void writeSettings(const std::string& dir, const std::string& extra = "")
    {
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/gpsbridge.ini")
            << "[main]\nDefaultPort=" << m_trackerPort << "\n"
            << extra << "[ServerHost]\nPort=" << m_server.port() << "\n";
    }

    // env: variables set for the gateway's start only.
    std::unique_ptr<fakes::Process>
    startGateway(std::vector<std::string> args = {},
                 const std::vector<std::pair<const char*, std::string>>& env = {})
    {
        args.insert(args.begin(), "--headless");
        for (auto& [name, value] : env)
            ::setenv(name, value.c_str(), 1);
        auto gateway =
            std::make_unique<fakes::Process>(GPSBRIDGE_BINARY, args, m_dir.path(),
                                             m_dir.file("gateway.out"), m_dir.file("gateway.err"));
        for (auto& [name, value] : env)
            ::unsetenv(name);
        return gateway;
    }

    std::string dayLogs(const std::string& dir) const
    {
        std::string text;
        for (auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().extension() == ".log")
                text += m_dir.read(std::filesystem::relative(entry.path(), m_dir.path()));
        return text;
    }

    fakes::TempDir m_dir;
    fakes::FakeMessageServer m_server;
    std::uint16_t m_trackerPort = 0;
};

std::size_t countOf(const std::string& text, const std::string& word)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

} // namespace

TEST_F(ServiceTest, NotifiesReadyOnceTheTrackerPortListensThenStatusWatchdogAndStopping)
{
    NotifySocket manager(m_dir.file("notify"));
    ASSERT_TRUE(manager.bound());
    writeSettings(m_dir.path());
    auto gateway =
        startGateway({}, {{"NOTIFY_SOCKET", m_dir.file("notify")}, {"WATCHDOG_USEC", "1000000"}});
    ASSERT_TRUE(manager.waitFor("READY=1", 10s)) << m_dir.read("gateway.err");
    EXPECT_TRUE(fakes::TrackerClient(m_trackerPort).connected()) << "READY before the port";
    EXPECT_TRUE(manager.waitFor("STATUS=link ", 5s));
    // Fed about every quarter second while the dispatcher and the client loop run.
    EXPECT_TRUE(manager.waitFor("WATCHDOG=1", 5s, 3));
    // The status line follows the link once it is up.
    EXPECT_TRUE(manager.waitFor("STATUS=link connected", 10s) ||
                manager.waitFor("STATUS=link logged in", 1s));
    EXPECT_TRUE(gateway->terminate(8s).has_value());
    EXPECT_TRUE(manager.waitFor("STOPPING=1", 1s));
}

TEST_F(ServiceTest, ClosedStandardOutputStopsThePrintingAndNothingElse)
{
    // The first connection is closed by the server at its first poll: the gateway reconnects
    // 5 s later and prints two more events, long after the reader has gone.
    m_server.setHandler([](const fakes::ServerFrame& f) {
        if (f.connection == 1 && f.code == msglink::kPoll)
            return fakes::closeConnection();
        return fakes::usualAnswer(f);
    });
    writeSettings(m_dir.path());
    int fds[2];
    ASSERT_EQ(0, ::pipe2(fds, O_CLOEXEC));
    // gpsbridge --headless | head -1
    auto gateway = std::make_unique<fakes::Process>(
        GPSBRIDGE_BINARY, std::vector<std::string>{"--headless"}, m_dir.path(),
        "/dev/fd/" + std::to_string(fds[1]), m_dir.file("gateway.err"));
    ::close(fds[1]);
    std::string first;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        first += c;
    ::close(fds[0]);
    EXPECT_NE(std::string::npos, first.find("Соединение...")) << first;

    ASSERT_TRUE(m_server.waitConnections(2, 15000)) << "no reconnect after the server closed";
    ASSERT_TRUE(m_server.waitFor(
        [](auto& frames) {
            return std::any_of(frames.begin(), frames.end(), [](auto& f) {
                return f.connection == 2 && f.code == msglink::kPoll;
            });
        },
        10000));
    ASSERT_TRUE(gateway->running());
    EXPECT_TRUE(gateway->terminate(8s).has_value()) << m_dir.read("gateway.err");
    EXPECT_NE(std::string::npos,
              m_dir.read("gateway.err").find("standard output cannot be written (Broken pipe)"));
}

TEST_F(ServiceTest, SighupStopsInOrder)
{
    writeSettings(m_dir.path());
    auto gateway = startGateway();
    ASSERT_TRUE(waitListening(m_trackerPort));
    fakes::TrackerClient tracker(m_trackerPort);
    ASSERT_TRUE(tracker.send(fakes::makeIdentification(fakes::kWorkedImei)));
    ASSERT_EQ(3u, tracker.receive(3).size());
    ::kill(gateway->pid(), SIGHUP);
    EXPECT_EQ(0, gateway->wait(8s).value_or(-1)) << "no orderly stop on SIGHUP";
    // The orderly stop ends every connection with its Disconnect line.
    std::string log = dayLogs(m_dir.path());
    EXPECT_EQ(countOf(log, " Connect "), countOf(log, " Disconnect "));
    EXPECT_GE(countOf(log, " Connect "), 1u);
}

TEST_F(ServiceTest, TakenTrackerPortEndsTheHeadlessRunWithTheReasonAndNoReady)
{
    platform::SocketHandle holder = platform::createTcpSocket();
    ASSERT_TRUE(platform::bindAny(holder, m_trackerPort) && platform::listenMax(holder));
    NotifySocket manager(m_dir.file("notify"));
    writeSettings(m_dir.path());
    auto gateway = startGateway({}, {{"NOTIFY_SOCKET", m_dir.file("notify")}});
    EXPECT_EQ(3, gateway->wait(15s).value_or(-1));
    platform::closeSocket(holder);
    EXPECT_NE(std::string::npos,
              m_dir.read("gateway.err")
                  .find("cannot open tracker port " + std::to_string(m_trackerPort) +
                        " on 0.0.0.0 (bind: Address already in use)"))
        << m_dir.read("gateway.err");
    EXPECT_TRUE(manager.waitFor("STATUS=cannot open tracker port", 1s));
    EXPECT_EQ(0u, manager.count("READY=1"));
}

TEST_F(ServiceTest, WorkdirHoldsSettingsLogsAndBacklogAndMetricsShowTheTracker)
{
    writeSettings(m_dir.file("gw"), "MetricsAddress=127.0.0.1:0\n");
    auto gateway = startGateway({"--workdir", "gw"}); // relative to the directory it starts in
    ASSERT_TRUE(waitListening(m_trackerPort)) << m_dir.read("gateway.err");
    const std::uint16_t metricsPort = systemtest::awaitMetricsPort(m_dir, "gateway.err");
    ASSERT_NE(0, metricsPort) << m_dir.read("gateway.err");
    fakes::TrackerClient tracker(m_trackerPort);
    ASSERT_TRUE(tracker.send(fakes::makeIdentification(fakes::kWorkedImei)));
    ASSERT_EQ(3u, tracker.receive(3).size());
    EXPECT_TRUE(fakes::eventually(
        [&] {
            return fakes::sampleValue(fakes::httpGet(metricsPort, "/metrics"),
                                      "gpsbridge_trackers_connected") == "1";
        },
        5000));
    EXPECT_TRUE(gateway->terminate(8s).has_value());
    EXPECT_NE(std::string::npos, dayLogs(m_dir.file("gw")).find(" Connect "));
    EXPECT_TRUE(std::filesystem::is_directory(m_dir.file("gw/dd8")));
    EXPECT_TRUE(std::filesystem::is_directory(m_dir.file("gw/log")));
    EXPECT_TRUE(dayLogs(m_dir.path()).empty());
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("dd8")));
}

TEST_F(ServiceTest, StatusPageShowsEveryConnectedTrackerAndTheLink)
{
    writeSettings(m_dir.path(), "MetricsAddress=127.0.0.1:0\n");
    auto gateway = startGateway();
    ASSERT_TRUE(waitListening(m_trackerPort)) << m_dir.read("gateway.err");
    const std::uint16_t metricsPort = systemtest::awaitMetricsPort(m_dir, "gateway.err");
    ASSERT_NE(0, metricsPort) << m_dir.read("gateway.err");
    const std::vector<std::string> imeis = {"356307042441013", "356307042441024",
                                            "356307042441035"};
    std::vector<std::unique_ptr<fakes::TrackerClient>> trackers;
    for (const std::string& imei : imeis) {
        trackers.push_back(std::make_unique<fakes::TrackerClient>(m_trackerPort));
        ASSERT_TRUE(trackers.back()->send(fakes::makeIdentification(imei)));
        ASSERT_EQ(3u, trackers.back()->receive(3).size());
    }
    // The page follows the main thread's snapshot, taken about once a second.
    std::string json;
    EXPECT_TRUE(fakes::eventually(
        [&] {
            json = fakes::httpGet(metricsPort, "/status.json");
            return json.find(R"("link":"logged in")") != std::string::npos &&
                   countOf(json, R"("linked":true)") == imeis.size();
        },
        15000))
        << json;
    EXPECT_NE(std::string::npos, json.find("Content-Type: application/json"));
    EXPECT_NE(std::string::npos, json.find(R"("serverAddress":"127.0.0.1")"));
    const std::string page = fakes::httpGet(metricsPort, "/");
    EXPECT_EQ(0u, page.find("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8"));
    EXPECT_NE(std::string::npos, page.find("logged in"));
    EXPECT_NE(std::string::npos, page.find("<dd>127.0.0.1</dd>"));
    for (const std::string& imei : imeis) {
        EXPECT_NE(std::string::npos, json.find(R"("linked":true,"imei":")" + imei + "\""));
        EXPECT_NE(std::string::npos, page.find("<td>" + imei + "</td>")) << imei;
    }
    const std::string metrics = fakes::httpGet(metricsPort, "/metrics");
    EXPECT_EQ("3", fakes::sampleValue(metrics, "gpsbridge_trackers_connected"));
    EXPECT_EQ("2", fakes::sampleValue(metrics, "gpsbridge_link_state"));
    EXPECT_TRUE(gateway->terminate(8s).has_value());
}

TEST_F(ServiceTest, CheckConfigNamesWhatDoesNotParseAndExitsOne)
{
    writeSettings(m_dir.file("bad"), "FirstNumber=x7\n");
    std::ofstream(m_dir.file("bad/gpsbridge.ini"), std::ios::app) << "Address=gw.example\n";
    fakes::Process bad(GPSBRIDGE_BINARY, {"--check-config", "--workdir", m_dir.file("bad")},
                       m_dir.path(), m_dir.file("bad.out"));
    EXPECT_EQ(1, bad.wait(10s).value_or(-1));
    std::string report = m_dir.read("bad.out");
    EXPECT_NE(std::string::npos, report.find("[main] FirstNumber = x7: not an integer")) << report;
    EXPECT_NE(std::string::npos, report.find("[ServerHost] Address = gw.example: not a dotted"));

    writeSettings(m_dir.file("good"));
    fakes::Process good(GPSBRIDGE_BINARY, {"--check-config", "--workdir", m_dir.file("good")},
                        m_dir.path(), m_dir.file("good.out"));
    EXPECT_EQ(0, good.wait(10s).value_or(-1)) << m_dir.read("good.out");
    EXPECT_NE(std::string::npos,
              m_dir.read("good.out").find("[main] DefaultPort = " + std::to_string(m_trackerPort)));
}
