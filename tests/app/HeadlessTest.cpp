// tests/app/HeadlessTest.cpp: the real program, headless, in an empty directory.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "platform/Socket.h"
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

} // namespace

TEST(HeadlessTest, ServesATrackerOnTheDefaultPortAndEndsSoonAfterSigterm)
{
    if (!portFree(21000))
        GTEST_SKIP() << "port 21000 is in use on this machine";
    fakes::TempDir dir;
    std::string binary = GPSBRIDGE_BINARY;
    char* argv[] = {binary.data(), const_cast<char*>("--headless"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(0, posix_spawn(&pid, binary.c_str(), &actions, nullptr, argv, environ));
    posix_spawn_file_actions_destroy(&actions);

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

    ASSERT_EQ(0, ::kill(pid, SIGTERM));
    auto sent = std::chrono::steady_clock::now();
    int status = 0;
    pid_t done = 0;
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - sent < std::chrono::seconds(2))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "still running 2 s after SIGTERM";
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}
