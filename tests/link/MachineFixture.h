// tests/link/MachineFixture.h: the client's state machine with a fake clock, a transport that
// answers from memory and a scratch working directory; the test takes the turns itself.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/LinkMachine.h"
#include "tests/fakes/FakeClock.h"
#include "tests/fakes/FakeLinkView.h"
#include "tests/fakes/FakeTransport.h"
#include "tests/fakes/FaultyFileSystem.h"
#include "tests/fakes/TempDir.h"

class MachineFixture : public ::testing::Test
{
protected:
    using Bytes = msglink::Bytes;

    void writeSettings(const std::string& serverHost)
    {
        std::ofstream(m_dir.file("gpsbridge.ini")) << "[ServerHost]\n" << serverHost;
    }

    // Puts messages in the backlog before the machine exists.
    void storeBefore(std::initializer_list<std::string> texts, std::uint32_t code = 0x022000C7)
    {
        backlog::BacklogStore store(m_dir.path());
        store.setSubdirectoryName(backlog::kStoreDirectory);
        ASSERT_TRUE(store.open());
        for (const auto& t : texts)
            ASSERT_TRUE(store.append(code, Bytes(t.begin(), t.end())));
    }

    // A machine and its outbox on a directory (the scratch one unless given); not started.
    void create(msglink::LinkTimings timings = {}, msglink::OutboxOptions outbox = {},
                std::string dir = {})
    {
        if (dir.empty())
            dir = m_dir.path();
        outbox.commitThread = false; // the test turns everything itself
        m_machine.reset();
        m_outbox.reset(); // its backlog is locked while it is open
        auto tell = [this](const std::string& text) { m_diagnostics.push_back(text); };
        m_outbox = std::make_unique<msglink::Outbox>(m_view, m_clock, dir, outbox, tell);
        m_machine = std::make_unique<msglink::LinkMachine>(m_view, m_clock, *m_outbox, 37, dir,
                                                           timings, tell);
        m_outbox->open(); // what start-up does first
    }

    // Starts it with a fresh fake transport (the same one again when kept).
    void start()
    {
        auto transport = std::make_unique<fakes::FakeTransport>(m_handler);
        m_link = transport.get();
        m_machine->start(std::move(transport));
    }

    void begin(msglink::LinkTimings timings = {})
    {
        create(timings);
        start();
    }

    void beginLoggedIn()
    {
        begin();
        logIn();
    }

    // Starts it against a server that refuses every connection and takes the first attempt.
    void beginRefused()
    {
        begin();
        m_link->refuse("connect: Connection refused");
        turns();
    }

    void turns(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            m_machine->turn();
    }

    // Turns until pred holds; fails the test after max turns.
    template <typename Pred> void turnUntil(Pred pred, int max = 2000)
    {
        for (int i = 0; i < max && !pred(); ++i)
            m_machine->turn();
        ASSERT_TRUE(pred()) << "still not there after " << max << " turns";
    }

    // Connects and runs the four login exchanges.
    void logIn()
    {
        turns(5);
        ASSERT_TRUE(m_machine->authorised());
    }

    // Lets the reconnect wait pass and takes the turn that makes the next attempt.
    void nextAttempt()
    {
        m_clock.advanceMs(5001);
        turns();
    }

    // A server that closes the first connection when the data message `text` comes on it, and
    // answers everything else as usual.
    static fakes::FakeTransport::Handler closingFirstConnectionAt(const std::string& text)
    {
        return [text](const fakes::ServerFrame& f) {
            return f.text() == text && f.connection == 1 ? fakes::closeConnection()
                                                         : fakes::usualAnswer(f);
        };
    }

    // A reply to `code` whose header end marker is wrong.
    static fakes::ServerAnswer withWrongMarkers(std::uint32_t code)
    {
        Bytes bad = fakes::replyPayload(code);
        bad[msglink::kHeaderEndOffset] = 0xFD;
        return {fakes::ServerAnswer::Kind::Reply, bad};
    }

    // The codes of the frames sent so far, in order.
    std::vector<std::uint32_t> codesSent() const
    {
        std::vector<std::uint32_t> codes;
        for (const fakes::ServerFrame& f : m_link->frames())
            codes.push_back(f.code);
        return codes;
    }

    fakes::TempDir m_dir;
    fakes::FaultyFileSystem m_files; // for an outbox created over it
    fakes::FakeClock m_clock;
    fakes::FakeLinkView m_view;
    fakes::FakeTransport::Handler m_handler = fakes::usualAnswer;
    std::vector<std::string> m_diagnostics;
    std::unique_ptr<msglink::Outbox> m_outbox;
    std::unique_ptr<msglink::LinkMachine> m_machine;
    fakes::FakeTransport* m_link = nullptr; // owned by the machine
};
