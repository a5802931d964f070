// tests/app/HeadlessTest.cpp: the real program, headless, in an empty directory.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "link/FrameFormat.h"
#include "platform/Socket.h"
#include "tests/fakes/FakeMessageServer.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"

extern char** environ;

namespace {

bool portFree(std::uint16_t port)
{
    platform::SocketHandle s = platform::createTcpSocket();
    bool ok = platform::bindAny(s, port) && platform::listenMax(s);
    platform::closeSocket(s);
    return ok;
}

std::string dayLogOf(const fakes::TempDir& dir)
{
    for (auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (entry.path().extension() == ".log")
            return dir.read(entry.path().filename().string());
    return {};
}

// Starts the program headless in dir; standard output goes to out.
pid_t startHeadless(const fakes::TempDir& dir, const std::string& out = "/dev/null")
{
    std::string binary = GPSBRIDGE_BINARY;
    char* argv[] = {binary.data(), const_cast<char*>("--headless"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    if (posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ) != 0)
        pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Sends SIGTERM and waits up to limit for a clean exit; the time it took, or nothing.
std::optional<std::chrono::milliseconds> terminate(pid_t pid, std::chrono::milliseconds limit)
{
    ::kill(pid, SIGTERM);
    auto sent = std::chrono::steady_clock::now();
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - sent < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 sent);
}

} // namespace

TEST(HeadlessTest, LogsInPollsWhileIdleAndEndsWithinATurnOfSigterm)
{
    fakes::FakeMessageServer server;
    fakes::TempDir dir;
    std::ofstream(dir.file("gpsbridge.ini"))
        << "[main]\nDefaultPort=0\n[ServerHost]\nPort=" << server.port() << "\n";
    pid_t pid = startHeadless(dir, dir.file("out.txt"));
    ASSERT_NE(0, pid);
    bool polled = server.waitFor(
        [](auto& f) {
            int polls = 0;
            for (auto& x : f)
                polls += x.code == msglink::kPoll;
            return polls >= 2;
        },
        8000);
    auto took = terminate(pid, std::chrono::milliseconds(6000));
    ASSERT_TRUE(polled);
    ASSERT_TRUE(took.has_value()) << "no clean exit within a turn and its reply wait";
    auto f = server.frames();
    EXPECT_EQ(msglink::kModuleIdentification, f.at(0).code);
    EXPECT_EQ(msglink::kVersionReport, f.at(3).code);
    std::string out = dir.read("out.txt");
    EXPECT_NE(std::string::npos, out.find(" Соединение...\n"));
    EXPECT_NE(std::string::npos, out.find(" Соединение установлено.\n"));
}

TEST(HeadlessTest, ServesATrackerOnTheDefaultPortAndEndsSoonAfterSigterm)
{
    if (!portFree(21000))
        GTEST_SKIP() << "port 21000 is in use on this machine";
    fakes::TempDir dir;
    pid_t pid = startHeadless(dir);
    ASSERT_NE(0, pid);

    std::unique_ptr<fakes::TrackerClient> tracker;
    for (int i = 0; i < 100 && !(tracker && tracker->connected()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        tracker = std::make_unique<fakes::TrackerClient>(21000);
    }
    ASSERT_TRUE(tracker && tracker->connected());
    fakes::Bytes id = fakes::makeIdentification("356307042441013");
    ASSERT_TRUE(tracker->send(id));
    EXPECT_EQ(fakes::Bytes({0x01, id[id.size() - 2], id.back()}), tracker->receive(3));
    tracker->close();

    std::string log;
    for (int i = 0; i < 200; ++i) {
        log = dayLogOf(dir);
        if (log.find("Disconnect") != std::string::npos && log.find(fakes::toHex(id)) != std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_NE(std::string::npos, log.find(" Connect "));
    EXPECT_NE(std::string::npos, log.find(" " + fakes::toHex(id) + "\r\n"));
    EXPECT_NE(std::string::npos, log.find(" Disconnect "));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("log")));

    EXPECT_TRUE(terminate(pid, std::chrono::milliseconds(2000)).has_value())
        << "no clean exit within 2 s of SIGTERM";
}
