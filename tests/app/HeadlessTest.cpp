// tests/app/HeadlessTest.cpp: the real program, headless, in a scratch directory.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "link/FrameFormat.h"
#include "platform/Socket.h"
#include "tests/fakes/FakeMessageServer.h"
#include "tests/fakes/Packets.h"
#include "tests/fakes/Process.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"

using namespace std::chrono_literals;

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
            int polls = 0;
            for (auto& x : f)
                polls += x.code == msglink::kPoll;
            return polls >= 2;
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

TEST(HeadlessTest, ServesATrackerOnTheDefaultPortAndEndsSoonAfterSigterm)
{
    if (!portFree(21000))
        GTEST_SKIP() << "port 21000 is in use on this machine";
    fakes::TempDir dir;
    fakes::Process gateway(GPSBRIDGE_BINARY, {"--headless"}, dir.path());
    ASSERT_TRUE(gateway.running());

    std::unique_ptr<fakes::TrackerClient> tracker;
    for (int i = 0; i < 100 && !(tracker && tracker->connected()); ++i) {
        std::this_thread::sleep_for(50ms);
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
        if (log.find("Disconnect") != std::string::npos &&
            log.find(fakes::toHex(id)) != std::string::npos)
            break;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(std::string::npos, log.find(" Connect "));
    EXPECT_NE(std::string::npos, log.find(" " + fakes::toHex(id) + "\r\n"));
    EXPECT_NE(std::string::npos, log.find(" Disconnect "));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("log")));
    EXPECT_TRUE(gateway.terminate(6000ms).has_value()) << "no clean exit within 6 s of SIGTERM";
}
