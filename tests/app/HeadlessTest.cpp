// tests/app/HeadlessTest.cpp: the real program, headless, in a scratch directory.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <tuple>

#include <gtest/gtest.h>

#include "link/FrameFormat.h"
#include "tests/fakes/FakeMessageServer.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/Process.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"

using namespace std::chrono_literals;

namespace {

// The tracker port the gateway names on standard error once it listens; 0 before that.
std::uint16_t reportedPort(const fakes::TempDir& dir, const std::string& errFile)
{
    std::smatch m;
    const std::string err = dir.read(errFile);
    if (!std::regex_search(err, m, std::regex("listening on tracker port (\\d+)\n")))
        return 0;
    return static_cast<std::uint16_t>(std::stoi(m[1]));
}

std::string dayLogOf(const fakes::TempDir& dir)
{
    for (auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (entry.path().extension() == ".log")
            return dir.read(entry.path().filename().string());
    return {};
}

} // namespace

TEST(HeadlessTest, LogsInPollsWhileIdleAndEndsWithinATurnOfSigterm)
{
    fakes::FakeMessageServer server;
    fakes::TempDir dir;
    std::ofstream(dir.file("gpsbridge.ini"))
        << "[main]\nDefaultPort=0\n[ServerHost]\nPort=" << server.port() << "\n";
    fakes::Process gateway(GPSBRIDGE_BINARY, {"--headless"}, dir.path(), dir.file("out.txt"));
    ASSERT_TRUE(gateway.running());
    bool polled = server.waitFor(
        [](auto& f) {
            return std::count_if(f.begin(), f.end(),
                                 [](auto& x) { return x.code == msglink::kPoll; }) >= 2;
        },
        8000);
    auto took = gateway.terminate(6000ms);
    ASSERT_TRUE(polled);
    ASSERT_TRUE(took.has_value()) << "no clean exit within a turn and its reply wait";
    auto f = server.frames();
    EXPECT_EQ(msglink::kModuleIdentification, f.at(0).code);
    EXPECT_EQ(msglink::kVersionReport, f.at(3).code);
    std::string out = dir.read("out.txt");
    EXPECT_NE(std::string::npos, out.find(" Соединение...\n"));
    EXPECT_NE(std::string::npos, out.find(" Соединение установлено.\n"));
}

// DefaultPort=0: any free port, the one it got named on standard error.
TEST(HeadlessTest, ServesATrackerOnTheReportedPortAndEndsSoonAfterSigterm)
{
    fakes::TempDir dir;
    std::ofstream(dir.file("gpsbridge.ini")) << "[main]\nDefaultPort=0\n";
    fakes::Process gateway(GPSBRIDGE_BINARY, {"--headless"}, dir.path(), "", dir.file("err.txt"));
    ASSERT_TRUE(gateway.running());
    std::uint16_t port = 0;
    ASSERT_TRUE(fakes::eventually([&] { return (port = reportedPort(dir, "err.txt")) != 0; }, 5000))
        << dir.read("err.txt");

    fakes::TrackerClient tracker(port);
    ASSERT_TRUE(tracker.connected());
    fakes::Bytes id = fakes::makeIdentification("356307042441013");
    ASSERT_TRUE(tracker.send(id));
    EXPECT_EQ(fakes::Bytes({0x01, id[id.size() - 2], id.back()}), tracker.receive(3));
    tracker.close();

    std::string log;
    fakes::eventually([&] {
        log = dayLogOf(dir);
        return log.find("Disconnect") != std::string::npos &&
               log.find(fakes::toHex(id)) != std::string::npos;
    });
    EXPECT_NE(std::string::npos, log.find(" Connect "));
    EXPECT_NE(std::string::npos, log.find(" " + fakes::toHex(id) + "\r\n"));
    EXPECT_NE(std::string::npos, log.find(" Disconnect "));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("log")));
    EXPECT_TRUE(gateway.terminate(6000ms).has_value()) << "no clean exit within 6 s of SIGTERM";
    // The start and the stop each say what waits in the backlog: nothing, as nothing was stored.
    const std::string err = dir.read("err.txt"), waiting = "backlog: 0 messages waiting in dd8/\n";
    std::size_t told = 0;
    for (std::size_t at = err.find(waiting); at != std::string::npos; at = err.find(waiting, at + 1))
        ++told;
    EXPECT_EQ(2u, told) << err;
}

// A working directory it cannot have ends any run with status 4 and one line saying why, never
// with an uncaught error (status 134 on SIGABRT); a misspelt key fails the settings check.
TEST(HeadlessTest, ChecksAndWorkingDirectoriesEndWithTheirStatusAndSayWhy)
{
    namespace fs = std::filesystem;
    fakes::TempDir dir;
    std::ofstream(dir.file("plain")) << "x";
    std::ofstream(dir.file("gpsbridge.ini")) << "[main]\nDefaultPortt=21001\n";
    // Below a directory it may not enter; root may enter any, so root runs the gateway as nobody.
    fs::create_directory(dir.file("shut"));
    fs::permissions(dir.file("shut"), ::geteuid() == 0 ? fs::perms::owner_all : fs::perms::none);
    const std::vector<std::string> asNobody = {"/usr/sbin/runuser", "-u", "nobody", "--"};
    // The arguments, the exit status and what the run says.
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> runs = {
        {{"--check-config"},
         1,
         "[main] DefaultPortt = 21001: unknown key, not read; did you mean "
         "DefaultPort?"},
        {{"--headless", "--workdir", dir.file("plain")}, 4, "(not a directory)"},
        {{"--headless", "--workdir", dir.file("plain/below")}, 4, "(not a directory)"},
        {{"--check-config", "--workdir", dir.file("plain")}, 4, "(not a directory)"},
        {{"--headless", "--workdir", dir.file("shut/gw")}, 4, "(Permission denied)"},
        {{"--check-config", "--workdir", dir.file("shut/gw")}, 4, "(Permission denied)"},
    };
    for (const auto& [args, status, says] : runs) {
        std::vector<std::string> command = {GPSBRIDGE_BINARY};
        if (::geteuid() == 0 && args.back().find("/shut/") != std::string::npos)
            command.insert(command.begin(), asNobody.begin(), asNobody.end());
        command.insert(command.end(), args.begin(), args.end());
        SCOPED_TRACE(command.back());
        fakes::Process p(command[0], {command.begin() + 1, command.end()}, dir.path(),
                         dir.file("out.txt"), dir.file("err.txt"));
        EXPECT_EQ(status, p.wait(10s).value_or(-1));
        const std::string said = dir.read(status == 1 ? "out.txt" : "err.txt");
        EXPECT_NE(std::string::npos, said.find(says)) << said;
        if (status == 4) {
            EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
        }
    }
    fs::permissions(dir.file("shut"), fs::perms::owner_all);
}
