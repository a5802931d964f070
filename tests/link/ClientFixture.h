// tests/link/ClientFixture.h: a client with a fake clock and short waits, a fake message server
// and a settings file pointing the one at the other, all in a scratch directory.
#pragma once

#include <atomic>
#include <fstream>
#include <initializer_list>
#include <string>
#include <memory>

#include <gtest/gtest.h>

#include "link/LinkClient.h"
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
        backlog::BacklogStore store(m_dir.path());
        store.setSubdirectoryName(backlog::kStoreDirectory);
        ASSERT_TRUE(store.open());
        for (const auto& t : texts)
            ASSERT_TRUE(store.append(msglink::kDataMessage, backlog::Bytes(t.begin(), t.end())));
    }

    // The outbox is opened first, as start-up does.
    void startClient(msglink::ClientOptions o)
    {
        m_outbox = std::make_unique<msglink::Outbox>(m_view, m_clock, m_dir.path());
        m_outbox->open();
        m_client = std::make_unique<msglink::LinkClient>(m_view, *m_outbox, 37, o);
    }
    void startClient() { startClient(options()); }

    bool waitAuthorised()
    {
        return fakes::eventually([&] { return m_client->authorised(); }, 5000);
    }

    fakes::TempDir m_dir;
    fakes::FakeClock m_clock;
    fakes::FakeLinkView m_view;
    std::unique_ptr<fakes::FakeMessageServer> m_server;
    std::atomic<bool> m_release{false};
    std::unique_ptr<msglink::Outbox> m_outbox; // outlives the client
    std::unique_ptr<msglink::LinkClient> m_client;
};
