// tests/link/ClientFixture.h: a client with a fake clock and short waits, a fake message server
// and a settings file pointing the one at the other, all in a scratch directory.
#pragma once

#include <atomic>
#include <fstream>
#include <initializer_list>
#include <string>
#include <memory>

#include <gtest/gtest.h>

#include "link/cl.h"
#include "tests/fakes/FakeClock.h"
#include "tests/fakes/FakeLinkView.h"
#include "tests/fakes/FakeMessageServer.h"
#include "tests/fakes/TempDir.h"
#include "tests/fakes/TrackerClient.h"

class ClientFixture : public ::testing::Test
{
protected:
    void SetUp() override { m_server = std::make_unique<fakes::FakeMessageServer>(); }

    // A handler held back on m_release lets go when the test ends, even an early one.
    void TearDown() override { m_release = true; }

    void writeSettings(const std::string& serverHost)
    {
        std::ofstream(m_dir.file("gpsbridge.ini")) << "[ServerHost]\n" << serverHost;
    }

    void pointAtServer(const std::string& extra = "")
    {
        writeSettings("Address=127.0.0.1\nPort=" + std::to_string(m_server->port()) + "\n" + extra);
    }

    msglink::ClientOptions options() const
    {
        msglink::ClientOptions o;
        o.clock = &m_clock;
        o.ticksPerMs = fakes::FakeClock::kTicksPerMs;
        o.workingDirectory = m_dir.path();
        o.replyWaitMs = 1500; // real time: long enough for a loaded machine
        o.connectTimeoutMs = 2000;
        o.idlePauseMs = 2;
        return o;
    }

    // Puts messages in the backlog before the client runs, so they wait there however quickly
    // the client logs in.
    void storeBeforeStart(std::initializer_list<std::string> texts)
    {
        backlog::TBackSoob store(m_dir.path());
        store.setSubdirectoryName(backlog::kStoreDirectory);
        store.OpenStore();
        for (const auto& t : texts)
            store.AddMessage(msglink::kDataMessage, backlog::Bytes(t.begin(), t.end()));
    }

    void startClient(msglink::ClientOptions o)
    {
        m_client = std::make_unique<msglink::cl>(m_view, 37, o);
    }
    void startClient() { startClient(options()); }

    // Waits until the client has begun attempt n (its time is taken once the server address
    // is shown).
    void waitAttemptBegun(int n)
    {
        ASSERT_TRUE(fakes::eventually(
            [&] { return m_view.addresses().size() >= static_cast<std::size_t>(n); }));
    }

    // Lets the reconnect wait pass and waits for the next attempt to be reported.
    void nextAttempt(int attemptsSoFar)
    {
        waitAttemptBegun(attemptsSoFar);
        m_clock.advanceMs(5001);
        ASSERT_TRUE(m_view.waitCount(msglink::kEventConnecting, attemptsSoFar + 1));
    }

    bool waitAuthorised()
    {
        return fakes::eventually([&] { return m_client->authorised(); }, 5000);
    }

    static std::vector<std::string> texts(const std::vector<fakes::ServerFrame>& frames)
    {
        std::vector<std::string> out;
        for (auto& f : frames)
            out.push_back(f.text());
        return out;
    }

    fakes::TempDir m_dir;
    fakes::FakeClock m_clock;
    fakes::FakeLinkView m_view;
    std::unique_ptr<fakes::FakeMessageServer> m_server;
    std::atomic<bool> m_release{false};
    std::unique_ptr<msglink::cl> m_client;
};
