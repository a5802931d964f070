// tests/link/LinkMachineDeliveryTest.cpp: no message the client was given is lost: full queues,
// failed exchanges, confirmations that answer something else, links lost mid-confirmation,
// messages before the first turn, and messages still queued at the end.
#include "link/LinkMachine.h"

#include <filesystem>
#include <fstream>

#include "tests/link/MachineFixture.h"

using namespace msglink;
using fakes::ServerAnswer;
using fakes::ServerFrame;

namespace {

class LinkMachineDeliveryTest : public MachineFixture
{
protected:
    // B1 and B2 wait in the backlog before the link comes up. Once B1 is confirmed, B2 is held
    // back by the 20 ms pacing until the server, answering L1, moves the clock on; B2 is then
    // queued behind L2. other answers every frame but L1.
    void sendB2BehindL2(fakes::FakeTransport::Handler other)
    {
        m_handler = [this, other](const ServerFrame& f) {
            if (f.text() != "L1")
                return other(f);
            m_clock.advanceMs(21);
            return fakes::answer(kPollReply, {0});
        };
        storeBefore({"B1", "B2"});
        LinkTimings t;
        t.confirmRewindTicks = 0;
        begin(t);
        logIn();
        turnUntil([&] { return m_link->sent("B1") == 1 && !m_machine->inFlight(); });
        ASSERT_EQ(1, m_machine->backlogCount());
        m_machine->SendText("L1");
        m_machine->SendText("L2");
    }
};

} // namespace

TEST_F(LinkMachineDeliveryTest, MessagesBeforeTheFirstTurnAreKeptAndDelivered)
{
    create();
    m_machine->SendText("early");
    EXPECT_EQ(1, m_machine->backlogCount());
    start();
    logIn();
    turnUntil([&] { return m_machine->backlogCount() == 0; });
    EXPECT_EQ(std::vector<std::string>{"early"}, m_link->dataTexts());
}

TEST_F(LinkMachineDeliveryTest, FullSendQueueKeepsTheRestInTheBacklog)
{
    begin();
    logIn();
    for (int i = 0; i <= 305; ++i)
        m_machine->SendText("m" + std::to_string(i));
    EXPECT_EQ(6, m_machine->backlogCount());
    turnUntil([&] { return m_machine->backlogCount() == 0 && !m_machine->inFlight(); }, 5000);
    for (int i = 0; i <= 305; ++i)
        EXPECT_EQ(1u, m_link->sent("m" + std::to_string(i))) << i;
}

TEST_F(LinkMachineDeliveryTest, LiveMessageOfAFailedExchangeGoesToTheBacklog)
{
    Bytes brokenEnvelope(kEnvelopeSize, 0);
    brokenEnvelope[0] = 0x55;
    const std::vector<std::pair<std::string, ServerAnswer>> failures = {
        {"peer closes", fakes::closeConnection()},
        {"no reply", fakes::silence()},
        {"broken envelope", ServerAnswer{ServerAnswer::Kind::Raw, brokenEnvelope}},
    };
    for (const auto& [name, failure] : failures) {
        SCOPED_TRACE(name);
        fakes::TempDir dir; // a store of its own
        m_handler = [failure = failure](const ServerFrame& f) {
            if (f.text() == "lost?" && f.connection == 1)
                return failure;
            return fakes::usualAnswer(f);
        };
        m_machine = std::make_unique<LinkMachine>(m_view, m_clock, 37, dir.path());
        start();
        logIn();
        const int errorsBefore = m_machine->errorCount();
        m_machine->SendText("lost?");
        turns();
        ASSERT_FALSE(m_machine->connected());
        EXPECT_EQ(1, m_machine->backlogCount());
        EXPECT_EQ(errorsBefore + 1, m_machine->errorCount());
        nextAttempt();
        logIn();
        turnUntil([&] { return m_machine->backlogCount() == 0 && !m_machine->inFlight(); });
        EXPECT_EQ(2u, m_link->sent("lost?"));
        m_machine.reset();
    }
}

TEST_F(LinkMachineDeliveryTest, BacklogMessagesArePacedMoreThan20MsApart)
{
    storeBefore({"first", "second"});
    LinkTimings t;
    t.confirmRewindTicks = 0;
    begin(t);
    logIn();
    turnUntil([&] { return m_link->sent("first") == 1 && !m_machine->inFlight(); });
    m_clock.advanceMs(20);
    turns(3);
    EXPECT_EQ(0u, m_link->sent("second"));
    m_clock.advanceMs(0.01);
    turns(2);
    EXPECT_EQ(1u, m_link->sent("second"));
}

TEST_F(LinkMachineDeliveryTest, ConfirmationOfAFrameAheadOfTheBacklogFrameDoesNotRemoveIt)
{
    // The reply to L2 carries a confirmation; B2's own reply confirms nothing, so its record
    // must still be there afterwards.
    int b2Seen = 0;
    sendB2BehindL2([&b2Seen](const ServerFrame& f) {
        if (f.text() == "B2" && ++b2Seen == 1)
            return fakes::answer(kPollReply, {0});
        return fakes::usualAnswer(f);
    });
    turns(4);
    EXPECT_EQ((std::vector<std::string>{"B1", "L1", "L2", "B2"}), m_link->dataTexts());
    EXPECT_EQ(1, m_machine->backlogCount()); // L2's confirmation did not take B2's record
    m_clock.advanceMs(10001); // unconfirmed: B2 goes again and is confirmed this time
    turnUntil([&] { return m_machine->backlogCount() == 0; });
    EXPECT_EQ(2, b2Seen);
}

TEST_F(LinkMachineDeliveryTest, BacklogFrameStillQueuedWhenTheLinkDropsGoesAfterTheNextLogin)
{
    // The server closes on L2 while B2 waits behind it: the old frame of B2 must not go out
    // ahead of the next login, and live sending must not wait for it.
    sendB2BehindL2([](const ServerFrame& f) {
        if (f.text() == "L2" && f.connection == 1)
            return fakes::closeConnection();
        return fakes::usualAnswer(f);
    });
    turns(2);
    ASSERT_FALSE(m_machine->connected());
    nextAttempt();
    turnUntil([&] { return m_link->sent("B2") == 1 && !m_machine->inFlight(); });
    EXPECT_EQ(1, m_machine->backlogCount());
    m_clock.advanceMs(21); // B2 confirmed; the pacing lets the kept L2 follow
    turnUntil([&] { return m_machine->backlogCount() == 0 && !m_machine->inFlight(); });
    m_machine->SendText("L3");
    turns();
    auto second = m_link->framesOn(2);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(kModuleIdentification, second[0].code);
    EXPECT_EQ("L3", m_link->frames().back().text());
    EXPECT_EQ(1u, m_link->sent("B2"));
    EXPECT_EQ(2u, m_link->sent("L2")); // lost with the link, kept, sent again
}

TEST_F(LinkMachineDeliveryTest, BacklogMessageUnconfirmedWhenTheLinkDropsIsSentAgain)
{
    m_handler = [](const ServerFrame& f) {
        if (f.text() == "stored" && f.connection == 1)
            return fakes::silence(); // the link dies before the confirmation
        return fakes::usualAnswer(f);
    };
    storeBefore({"stored"});
    begin();
    logIn();
    turnUntil([&] { return !m_machine->connected(); });
    EXPECT_FALSE(m_machine->inFlight());
    EXPECT_EQ(1, m_machine->backlogCount());
    nextAttempt();
    logIn();
    turnUntil([&] { return m_machine->backlogCount() == 0 && !m_machine->inFlight(); });
    EXPECT_EQ(2u, m_link->sent("stored"));
    m_machine->SendText("live again");
    turns();
    EXPECT_EQ("live again", m_link->frames().back().text());
}

TEST_F(LinkMachineDeliveryTest, MessagesStillQueuedAtTheEndAreKept)
{
    begin();
    logIn();
    m_machine->SendText("first");
    m_machine->SendText("second");
    m_machine->SendText("third");
    turns();
    m_machine->end();
    EXPECT_EQ(2, m_machine->backlogCount());

    // The next run delivers them.
    begin();
    logIn();
    turnUntil([&] { return m_machine->backlogCount() == 0 && !m_machine->inFlight(); });
    EXPECT_EQ((std::vector<std::string>{"second", "third"}), m_link->dataTexts());
}

TEST_F(LinkMachineDeliveryTest, BacklogMessageNeverConfirmedOnALiveLinkIsSentAgain)
{
    int seen = 0;
    m_handler = [&seen](const ServerFrame& f) {
        if (f.text() == "stored" && ++seen == 1)
            return fakes::answer(kEchoRequest); // the reply slot holds no confirmation
        return fakes::usualAnswer(f);
    };
    storeBefore({"stored"});
    begin();
    logIn();
    turnUntil([&] { return !m_link->framesWithCode(kEchoReply).empty(); });
    m_clock.advanceMs(10000);
    turns(2);
    EXPECT_TRUE(m_machine->inFlight());
    EXPECT_EQ(1u, m_link->sent("stored"));
    m_clock.advanceMs(1);
    turnUntil([&] { return m_machine->backlogCount() == 0; });
    EXPECT_EQ(2u, m_link->sent("stored"));
    EXPECT_TRUE(m_machine->connected());
}

TEST_F(LinkMachineDeliveryTest, AStoreThatCannotBeWrittenIsSaid)
{
    begin();
    std::filesystem::remove_all(m_dir.file("dd8"));
    std::ofstream(m_dir.file("dd8")) << "a file where the backlog belongs";
    m_machine->SendText("while down");
    ASSERT_FALSE(m_diagnostics.empty());
    EXPECT_NE(std::string::npos, m_diagnostics.back().find("is lost")) << m_diagnostics.back();
}
