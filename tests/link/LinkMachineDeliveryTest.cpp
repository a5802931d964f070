// tests/link/LinkMachineDeliveryTest.cpp: no message the client was given is lost and none
// overtakes another: floods, failed exchanges, confirmations that come late or never, links
// lost mid-confirmation, messages before the first turn and at the end, a backlog that cannot
// be written.
#include "link/LinkMachine.h"

#include <filesystem>
#include <fstream>

#include <cerrno>

#include "link/LinkEvents.h"
#include "tests/link/MachineFixture.h"

using namespace msglink;
using fakes::ServerAnswer;
using fakes::ServerFrame;

namespace {

class LinkMachineDeliveryTest : public MachineFixture
{
protected:
    void drainAll()
    {
        turnUntil([&] { return m_outbox->depth() == 0; }, 20000);
    }

    static std::vector<std::string> numbered(const std::string& prefix, int n)
    {
        std::vector<std::string> out;
        for (int i = 0; i < n; ++i)
            out.push_back(prefix + std::to_string(i));
        return out;
    }
};

} // namespace

// The clock's rate is set before the runner's thread begins: what the window reads before the
// first turn is in real time.
TEST_F(LinkMachineDeliveryTest, MessagesBeforeTheFirstTurnAreKeptAgedAndDelivered)
{
    create();
    ASSERT_TRUE(m_outbox->storeMessage("early"));
    EXPECT_EQ(1, m_outbox->depth());
    m_clock.advanceMs(2000);
    EXPECT_NEAR(2.0, m_outbox->oldestWaitingSeconds(), 0.01);
    start();
    logIn();
    drainAll();
    EXPECT_EQ(std::vector<std::string>{"early"}, m_link->dataTexts());
}

// A flood is stored, whatever its size, and goes out in the order it came.
TEST_F(LinkMachineDeliveryTest, AFloodIsKeptWholeAndDeliveredInOrder)
{
    beginLoggedIn();
    for (const std::string& m : numbered("m", 3000))
        ASSERT_TRUE(m_outbox->storeMessage(m));
    EXPECT_EQ(3000, m_outbox->depth());
    drainAll();
    EXPECT_EQ(numbered("m", 3000), m_link->dataTexts());
}

// One data message per exchange, each as soon as the last one is done: no pause between
// backlog messages, the server's replies set the pace.
TEST_F(LinkMachineDeliveryTest, TheBacklogDrainsOneMessagePerExchangeWithoutAPause)
{
    storeBefore({"b0", "b1", "b2", "b3", "b4"});
    beginLoggedIn();
    turns(5); // the clock stands still
    EXPECT_EQ(numbered("b", 5), m_link->dataTexts());
    EXPECT_EQ(0, m_outbox->depth());
    EXPECT_EQ(5u, m_outbox->figures().deliveredBacklog.get());
}

TEST_F(LinkMachineDeliveryTest, AMessageWhoseExchangeFailedGoesAgainAfterTheNextLogin)
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
            return f.text() == "lost?" && f.connection == 1 ? failure : fakes::usualAnswer(f);
        };
        create({}, {}, dir.path());
        start();
        logIn();
        const int errorsBefore = m_machine->errorCount();
        m_outbox->storeMessage("lost?");
        turns();
        ASSERT_FALSE(m_machine->connected());
        EXPECT_EQ(1, m_outbox->depth());
        EXPECT_EQ(errorsBefore + 1, m_machine->errorCount());
        nextAttempt();
        logIn();
        drainAll();
        EXPECT_EQ(2u, m_link->sent("lost?"));
        EXPECT_EQ(1u, m_machine->figures().resends.get());
        m_machine.reset();
        m_outbox.reset();
    }
}

// What was handed over while the link was up, with nothing older waiting, is done with any
// reply, as a message sent live; what was stored while the link was down needs a confirmation.
TEST_F(LinkMachineDeliveryTest, MessagesSentAsTheyCameNeedNoConfirmationBacklogOnesDo)
{
    auto noConfirmations = [](const ServerFrame& f) {
        return f.code == kModuleIdentification ? fakes::answer(kLoginAccepted)
                                               : fakes::answer(kPollReply, {0});
    };
    m_handler = noConfirmations;
    create();
    m_outbox->storeMessage("stored while down");
    start();
    logIn();
    turns();
    EXPECT_EQ(1u, m_link->sent("stored while down"));
    EXPECT_TRUE(m_machine->inFlight()); // no confirmation came
    m_clock.advanceMs(10000);
    turns(); // a poll keeps the link alive
    m_clock.advanceMs(1);
    m_link->setHandler(fakes::usualAnswer);
    turns(); // after the wait it goes again, and is confirmed this time
    EXPECT_EQ(2u, m_link->sent("stored while down"));
    EXPECT_EQ(1u, m_machine->figures().resends.get());
    EXPECT_EQ(0, m_outbox->depth());

    m_link->setHandler(noConfirmations);
    m_outbox->storeMessage("live");
    m_clock.advanceMs(5001); // the wait for a confirmation of the other copy
    turns();
    EXPECT_EQ(1u, m_link->sent("live"));
    EXPECT_EQ(0, m_outbox->depth());
    EXPECT_FALSE(m_machine->inFlight());
    EXPECT_EQ(1u, m_outbox->figures().deliveredLive.get());
    EXPECT_EQ(1u, m_outbox->figures().deliveredBacklog.get());
    EXPECT_EQ(2u, m_outbox->figures().storedToDelivered.snapshot().count);
    EXPECT_EQ(1u, m_machine->figures().resends.get()); // the live one went once
}

// Each of two live messages in the same second is timed from its own storing: the second one
// is not dated back to the first one's second.
TEST_F(LinkMachineDeliveryTest, ALiveMessageIsTimedFromItsOwnStoring)
{
    beginLoggedIn();
    for (const char* text : {"first", "second"}) {
        m_clock.advanceMs(400);
        ASSERT_TRUE(m_outbox->storeMessage(text));
        turns(); // the clock stands still: delivered in no time
    }
    const platform::Histogram::Snapshot s = m_outbox->figures().storedToDelivered.snapshot();
    EXPECT_EQ(2u, s.count);
    EXPECT_EQ(2u, s.cumulative[0]) << "sum " << s.sum;
}

// A reply with bad markers does not say the server took a live message: it is not counted
// delivered, stays in the backlog and goes again once the confirmation wait has passed.
TEST_F(LinkMachineDeliveryTest, ALiveMessageAnsweredWithBadMarkersIsNotDone)
{
    m_handler = [](const ServerFrame& f) {
        return f.text() == "live" && f.number == 4 ? withWrongMarkers(kPollReply)
                                                   : fakes::usualAnswer(f);
    };
    beginLoggedIn();
    m_outbox->storeMessage("live");
    turns();
    EXPECT_EQ(1, m_outbox->depth());
    EXPECT_EQ(0u, m_outbox->figures().deliveredLive.get());
    m_clock.advanceMs(10001); // silent that long, the link is dropped and made again
    drainAll();
    EXPECT_EQ(2u, m_link->sent("live"));
    EXPECT_EQ(1u, m_outbox->figures().deliveredBacklog.get());
}

// Any later reply that carries a confirmation counts for the message awaiting one.
TEST_F(LinkMachineDeliveryTest, AConfirmationInALaterReplyCounts)
{
    m_handler = [](const ServerFrame& f) {
        if (f.text() == "b0")
            return fakes::answer(kEchoRequest); // no confirmation in this reply...
        if (f.code == kEchoReply)
            return fakes::answer(0x03000005); // ...it comes with the next one
        return fakes::usualAnswer(f);
    };
    storeBefore({"b0", "b1"});
    beginLoggedIn();
    turns(3);
    EXPECT_EQ((std::vector<std::string>{"b0", "b1"}), m_link->dataTexts());
    EXPECT_EQ(0, m_outbox->depth());
}

// A message that went twice may be confirmed twice. The second confirmation must not take the
// next message, whose own confirmation was never seen.
TEST_F(LinkMachineDeliveryTest, ALateConfirmationOfAMessageSentTwiceDoesNotTakeTheNextOne)
{
    // The server's answers after the login, in turn.
    std::vector<ServerAnswer> script = {
        fakes::answer(kPollReply, {0}), // b0: no confirmation yet
        fakes::answer(kPollReply, {0}), // a poll
        fakes::answer(0x03000003),      // b0 again: the late confirmation of its first copy
        fakes::answer(0x03000003),      // the next frame: the confirmation of its second copy
        fakes::answer(kPollReply, {0}), // b1: its own confirmation comes later
        fakes::answer(0x03000003),      // ...with the next frame
    };
    std::size_t next = 0;
    m_handler = [&](const ServerFrame& f) {
        if (f.code == kModuleIdentification || f.code == kPortReport ||
            f.code == kFirstNumberReport || f.code == kVersionReport)
            return fakes::usualAnswer(f);
        return next < script.size() ? script[next++] : fakes::answer(kPollReply, {0});
    };
    storeBefore({"b0", "b1"});
    beginLoggedIn();
    turns(); // b0
    m_clock.advanceMs(10000);
    turns(); // a poll
    m_clock.advanceMs(1);
    turns(); // b0 again, confirmed
    EXPECT_EQ(1, m_outbox->depth());
    m_clock.advanceMs(501);
    turns(); // b1 waits; the poll's reply brings the second copy's confirmation
    turns(); // b1
    EXPECT_EQ((std::vector<std::string>{"b0", "b0", "b1"}), m_link->dataTexts());
    EXPECT_EQ(1, m_outbox->depth()); // b1 is still there
    EXPECT_TRUE(m_machine->inFlight());
    m_clock.advanceMs(501);
    turns();
    EXPECT_EQ(0, m_outbox->depth());
}

// Each tracker's messages reach the server in the order they were handed over; only a message
// whose exchange failed may come twice.
TEST_F(LinkMachineDeliveryTest, OrderIsKeptThroughALostLink)
{
    m_handler = closingFirstConnectionAt("m3");
    beginLoggedIn();
    for (const std::string& m : numbered("m", 10))
        m_outbox->storeMessage(m);
    turnUntil([&] { return !m_machine->connected(); });
    m_outbox->storeMessage("m10"); // while down
    nextAttempt();
    logIn();
    drainAll();
    std::vector<std::string> expected = numbered("m", 11);
    expected.insert(expected.begin() + 3, "m3"); // its exchange failed
    EXPECT_EQ(expected, m_link->dataTexts());
}

TEST_F(LinkMachineDeliveryTest, BacklogMessageUnconfirmedWhenTheLinkDropsIsSentAgain)
{
    m_handler = [](const ServerFrame& f) { // the link dies before the confirmation
        return f.text() == "stored" && f.connection == 1 ? fakes::silence() : fakes::usualAnswer(f);
    };
    storeBefore({"stored"});
    beginLoggedIn();
    turnUntil([&] { return !m_machine->connected(); });
    EXPECT_FALSE(m_machine->inFlight());
    EXPECT_EQ(1, m_outbox->depth());
    nextAttempt();
    logIn();
    drainAll();
    EXPECT_EQ(2u, m_link->sent("stored"));
    m_outbox->storeMessage("live again");
    turns();
    EXPECT_EQ("live again", m_link->frames().back().text());
}

TEST_F(LinkMachineDeliveryTest, MessagesNotYetSentAtTheEndAreKeptForTheNextRun)
{
    beginLoggedIn();
    for (const char* text : {"first", "second", "third"})
        m_outbox->storeMessage(text);
    turns();
    m_machine->end();
    EXPECT_EQ(2, m_outbox->depth());

    beginLoggedIn();
    drainAll();
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
    beginLoggedIn();
    turnUntil([&] { return !m_link->framesWithCode(kEchoReply).empty(); });
    m_clock.advanceMs(10000);
    turns(2);
    EXPECT_TRUE(m_machine->inFlight());
    EXPECT_EQ(1u, m_link->sent("stored"));
    m_clock.advanceMs(1);
    drainAll();
    EXPECT_EQ(2u, m_link->sent("stored"));
    EXPECT_TRUE(m_machine->connected());
}

// A backlog that cannot be written keeps nothing: the message is refused (the caller keeps
// it), said once on the event list and the diagnostics, and taken again once writing works.
TEST_F(LinkMachineDeliveryTest, ABacklogThatCannotBeWrittenRefusesAndSaysSoThenRecovers)
{
    std::ofstream(m_dir.file("dd8")) << "a file where the backlog belongs";
    begin();
    EXPECT_NE("", m_outbox->problem());
    EXPECT_FALSE(m_outbox->storeMessage("refused"));
    EXPECT_FALSE(m_outbox->storeMessage("refused again"));
    EXPECT_EQ(1, m_view.count(std::string(kEventBacklogFailing) + ": " + m_outbox->problem()));
    ASSERT_FALSE(m_diagnostics.empty());

    std::filesystem::remove(m_dir.file("dd8"));
    turns();
    EXPECT_FALSE(m_outbox->storeMessage("too soon")); // tried again once a second
    m_clock.advanceMs(1001);
    turns();
    EXPECT_TRUE(m_outbox->storeMessage("kept"));
    EXPECT_EQ("", m_outbox->problem());
    EXPECT_EQ(1, m_view.count(kEventBacklogRecovered));
    EXPECT_EQ(1u, m_outbox->figures().writeErrors.get()); // the opening; a retry waits its time
    logIn();
    drainAll();
    EXPECT_EQ(std::vector<std::string>{"kept"}, m_link->dataTexts());
}

// A backlog file that cannot be read holds delivery up, but is neither skipped nor read again at
// every turn: like a failing write, it is tried again once a second, said once, and everything
// in it goes once it can be read.
TEST_F(LinkMachineDeliveryTest, AFailingReadWaitsAndRetriesWithoutSpinning)
{
    msglink::OutboxOptions options;
    options.files = &m_files;
    create({}, options);
    for (const char* text : {"a", "b"})
        ASSERT_TRUE(m_outbox->storeMessage(text));
    m_files.failReads("bs0.dat", EIO);
    start();
    logIn();
    m_files.resetReads();
    turns(50);
    EXPECT_FALSE(m_machine->framesWaiting()); // the runner pauses between turns meanwhile
    EXPECT_LE(m_files.readsOf("bs0.dat"), 1);
    EXPECT_EQ(1, m_view.count(std::string(kEventBacklogFailing) + ": " + m_outbox->problem()));

    m_files.failReads("bs0.dat", 0);
    m_clock.advanceMs(1001);
    drainAll();
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), m_link->dataTexts());
    EXPECT_EQ(1, m_view.count(kEventBacklogRecovered));
}
