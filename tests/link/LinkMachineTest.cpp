// tests/link/LinkMachineTest.cpp: the client's state machine, turn by turn: connecting, login,
// the exchanges and the server's orders.
#include "link/LinkMachine.h"

#include "link/LinkEvents.h"
#include "tests/link/MachineFixture.h"

using namespace msglink;
using fakes::ServerAnswer;
using fakes::ServerFrame;

namespace {

ServerAnswer withholdLogin(const ServerFrame&)
{
    return fakes::answer(kPollReply, {0});
}

// What a fresh connection sends before anything else.
const std::vector<std::uint32_t> kLoginCodes = {kModuleIdentification, kPortReport,
                                                kFirstNumberReport, kVersionReport};

using LinkMachineTest = MachineFixture;

} // namespace

TEST_F(LinkMachineTest, FirstAttemptAtOnceThenMoreThan5000MsApart)
{
    beginRefused();
    EXPECT_EQ(1, m_view.count(kEventConnecting));
    m_clock.advanceMs(5000);
    turns(3);
    EXPECT_EQ(1, m_view.count(kEventConnecting));
    m_clock.advanceMs(0.01);
    turns();
    EXPECT_EQ(2, m_view.count(kEventConnecting));
    EXPECT_EQ(0, m_view.count(kEventConnected)); // a failed attempt adds no line of its own
    EXPECT_EQ((std::vector<std::string>{"127.0.0.1", "127.0.0.1"}), m_view.addresses());
    // Why, on the diagnostics, once for a reason that stays the same.
    EXPECT_EQ(std::vector<std::string>{"cannot connect to the message server at 127.0.0.1 port "
                                       "12543: connect: Connection refused"},
              m_diagnostics);
    EXPECT_EQ(2u, m_machine->figures().drops[std::size_t(DropReason::ConnectFailed)].get());
}

TEST_F(LinkMachineTest, FreshRunSendsTheFourLoginFramesNumbered0To3)
{
    m_handler = withholdLogin;
    begin();
    turns(5);
    ASSERT_EQ(kLoginCodes, codesSent());
    const auto& f = m_link->frames();
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(static_cast<std::int64_t>(i), f[i].number);
    EXPECT_EQ((Bytes{0x36, 0x00}), f[0].body);
    EXPECT_EQ((Bytes{0x25}), f[2].body);
    EXPECT_EQ(1, m_view.count(kEventConnected));
    // Not authorised: no polls, and messages go to the backlog.
    m_outbox->storeMessage("held");
    EXPECT_EQ(1, m_outbox->depth());
    m_clock.advanceMs(600);
    turns(3);
    EXPECT_EQ(4u, m_link->frames().size());
}

TEST_F(LinkMachineTest, EarlyLoginAcceptedStillSendsTheRestOfTheLoginThenData)
{
    begin();
    turns(2); // connect; module identification answered with login accepted
    ASSERT_TRUE(m_machine->authorised());
    m_outbox->storeMessage("first");
    turns(4);
    std::vector<std::uint32_t> expected = kLoginCodes;
    expected.push_back(kDataMessage);
    ASSERT_EQ(expected, codesSent());
    const auto& f = m_link->frames();
    EXPECT_EQ("first", f[4].text());
    EXPECT_EQ(4, f[4].number);
}

TEST_F(LinkMachineTest, PollsWhileIdleAndAuthorisedEveryMoreThan500Ms)
{
    beginLoggedIn();
    m_clock.advanceMs(500);
    turns(2);
    EXPECT_TRUE(m_link->framesWithCode(kPoll).empty());
    m_clock.advanceMs(1);
    turns();
    ASSERT_EQ(1u, m_link->framesWithCode(kPoll).size());
    EXPECT_EQ(0, m_link->frames().back().number);
    turns(3);
    EXPECT_EQ(1u, m_link->framesWithCode(kPoll).size());
}

// A busy link moves the activity picture at most once per step time, however many replies.
TEST_F(LinkMachineTest, ValidRepliesMoveTheIndicatorAtMostOncePerStepTime)
{
    beginLoggedIn();
    EXPECT_EQ(2, m_view.advances()); // the attempt and the connection step it, at one instant
    m_view.clear();
    for (int i = 0; i < 6; ++i)
        m_outbox->storeMessage("m" + std::to_string(i));
    turns(5);
    EXPECT_EQ(0, m_view.advances()); // the login's replies stepped it at this very time
    m_clock.advanceMs(LinkTimings{}.indicatorStepMs);
    turns();
    EXPECT_EQ(1, m_view.advances());
    EXPECT_EQ(0, m_outbox->depth());
}

// Whatever the last connection left undone waits in the backlog; the new connection logs in
// first, however much waits.
TEST_F(LinkMachineTest, LoginGoesFirstOnANewConnectionHoweverMuchWaits)
{
    m_handler = closingFirstConnectionAt("m0");
    beginLoggedIn();
    for (int i = 0; i < 300; ++i)
        m_outbox->storeMessage("m" + std::to_string(i));
    turns();
    ASSERT_FALSE(m_machine->connected());
    nextAttempt();
    turns(4);
    ASSERT_TRUE(m_machine->authorised());
    auto second = m_link->framesOn(2);
    ASSERT_EQ(4u, second.size());
    EXPECT_EQ(kModuleIdentification, second[0].code);
    EXPECT_EQ(kVersionReport, second[3].code);
    turnUntil([&] { return m_outbox->depth() == 0; });
    EXPECT_EQ(2u, m_link->sent("m0")); // its exchange failed: it went again
    EXPECT_EQ(1u, m_link->sent("m299"));
}

TEST_F(LinkMachineTest, ErrorCountAbove20DropsTheNextConnectionAtOnce)
{
    m_handler = [](const ServerFrame&) { return fakes::closeConnection(); };
    begin();
    for (int i = 1; i <= 21; ++i) {
        turns(2); // connect, then the first exchange fails
        ASSERT_EQ(i, m_machine->errorCount());
        ASSERT_FALSE(m_machine->connected());
        m_clock.advanceMs(5001);
    }
    m_link->setHandler(fakes::usualAnswer);
    std::size_t framesBefore = m_link->frames().size();
    turns();
    ASSERT_TRUE(m_machine->connected());
    turns();
    EXPECT_EQ(1, m_view.count(kEventNetworkErrors));
    EXPECT_EQ(0, m_machine->errorCount());
    EXPECT_FALSE(m_machine->connected());
    EXPECT_EQ(framesBefore, m_link->frames().size()); // dropped before sending anything
    EXPECT_EQ("link to 127.0.0.1 port 12543 dropped (error_limit): more than 20 failed exchanges",
              m_diagnostics.back());
}

TEST_F(LinkMachineTest, EchoReplyGoesBeforeTheNextDataMessage)
{
    m_handler = [](const ServerFrame& f) {
        return f.text() == "go" ? fakes::answer(kEchoRequest) : fakes::usualAnswer(f);
    };
    beginLoggedIn();
    for (const char* text : {"go", "d1", "d2", "d3"})
        m_outbox->storeMessage(text);
    turns(5);
    const auto& f = m_link->frames();
    ASSERT_EQ(9u, f.size());
    EXPECT_EQ("go", f[4].text());
    EXPECT_EQ(kEchoReply, f[5].code);
    EXPECT_TRUE(f[5].body.empty());
    EXPECT_EQ("d1", f[6].text());
    EXPECT_EQ("d3", f[8].text());
}

TEST_F(LinkMachineTest, DisconnectCommandWaitsOutTheReconnectWaitAndIsReported)
{
    // The first connection fails an exchange, so there is an error count to reset.
    m_handler = [](const ServerFrame& f) {
        if (f.code == kPortReport && f.connection == 1)
            return fakes::closeConnection();
        if (f.code == kVersionReport && f.connection == 2)
            return fakes::answer(kDisconnectCommand);
        return fakes::usualAnswer(f);
    };
    begin();
    turns(3);
    ASSERT_EQ(1, m_machine->errorCount());
    nextAttempt();
    turns(4);
    EXPECT_EQ(1, m_view.count(kEventServerDisconnect));
    EXPECT_FALSE(m_machine->connected());
    EXPECT_EQ(0, m_machine->errorCount());
    m_clock.advanceMs(5000);
    turns(2);
    EXPECT_EQ(2, m_link->connections());
    m_clock.advanceMs(0.01);
    turns();
    EXPECT_EQ(3, m_view.count(kEventConnecting));
    EXPECT_EQ(3, m_link->connections());
}

TEST_F(LinkMachineTest, SilenceCheckDropsAServerThatAnswersOnlyBadMarkers)
{
    m_handler = [](const ServerFrame&) { return withWrongMarkers(kLoginAccepted); };
    begin();
    turns(5);
    EXPECT_TRUE(m_machine->connected()); // ignored replies keep the link up
    EXPECT_FALSE(m_machine->authorised());
    EXPECT_EQ(0, m_machine->errorCount());
    m_clock.advanceMs(10000);
    turns();
    EXPECT_TRUE(m_machine->connected());
    m_clock.advanceMs(0.01);
    turns();
    EXPECT_EQ(1, m_view.count(kEventNetworkErrors));
    EXPECT_FALSE(m_machine->connected());
}

TEST_F(LinkMachineTest, AddressRotation)
{
    const std::string a = "127.0.0.5", b = "127.0.0.6", c = "127.0.0.7";
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"Address=" + a + "\nAddress2=" + b + "\n", {a, b, a, a, b, a, a}},
        {"Address=" + a + "\nAddress3=" + c + "\n", {a, c, a, c, a, c, a}},
        {"Address=" + a + "\nAddress2=" + b + "\nAddress3=" + c + "\n", {a, b, c, a, b, c, a}},
        {"Address=" + a + "\nAddress2=127.0.0.1\n", {a, a, a, a, a, a, a}},
    };
    for (const auto& [settings, expected] : cases) {
        SCOPED_TRACE(settings);
        m_view.clear();
        writeSettings(settings);
        beginRefused();
        for (int i = 1; i < 7; ++i)
            nextAttempt();
        EXPECT_EQ(expected, m_view.addresses());
    }
}

TEST_F(LinkMachineTest, PortIsReadBeforeEveryAttemptAndWrapsAt16Bits)
{
    writeSettings("Port=4000\n");
    beginRefused();
    writeSettings("Port=" + std::to_string(65536 + 4001) + "\n");
    nextAttempt();
    ASSERT_EQ(2u, m_link->attempts().size());
    EXPECT_EQ(4000, m_link->attempts()[0].port);
    EXPECT_EQ(4001, m_link->attempts()[1].port);
}

TEST_F(LinkMachineTest, AccessNoticeOnlyOnceAndNoAttemptWhileDisabled)
{
    beginRefused();
    m_machine->setLinkEnabled(false);
    turns();
    EXPECT_EQ(1, m_view.count(kEventAccessDenied));
    m_clock.advanceMs(60000);
    turns(3);
    EXPECT_EQ(1, m_view.count(kEventAccessDenied));
    EXPECT_EQ(1, m_view.count(kEventConnecting));
}

TEST_F(LinkMachineTest, BacklogRecordWithCode0IsDeletedUnsent)
{
    storeBefore({"zero"}, 0);
    storeBefore({"kept"});
    beginLoggedIn();
    turnUntil([&] { return m_outbox->depth() == 0 && !m_machine->inFlight(); });
    EXPECT_EQ(std::vector<std::string>{"kept"}, m_link->dataTexts());
}

// Every way the link goes down is counted under its reason and told once with it; the event
// list says what it always said. A failed exchange counts towards the error limit; the silence
// check and the server's orders start the count again.
TEST_F(LinkMachineTest, EveryDropIsCountedAndToldWithItsReason)
{
    const auto onPortReport = [](ServerAnswer answer) {
        return [answer](const ServerFrame& f) {
            return f.code == kPortReport ? answer : fakes::usualAnswer(f);
        };
    };
    struct Row
    {
        DropReason reason;
        fakes::FakeTransport::Handler handler;
        double thenMs; // waited after the login exchanges, before one more turn
        std::string told;
        int errors;                  // the error count after the drop
        int networkErrorEvents;      // lines of that event on the list
        std::uint32_t sendFails = 0; // the code whose sending fails
    };
    const std::vector<Row> rows = {
        {DropReason::NoLogin, withholdLogin, 10000.01, "no login accepted within 10 s", 0, 1},
        {DropReason::MarkerMismatch,
         [](const ServerFrame&) { return withWrongMarkers(kLoginAccepted); }, 10000.01,
         "only replies with wrong header markers for 10 s", 0, 1},
        {DropReason::NotAFrame, onPortReport({ServerAnswer::Kind::Raw, Bytes{0xFF, 1, 2}}), 0,
         "a reply that is not a frame (shorter than an envelope)", 1, 0},
        {DropReason::Silence, onPortReport(fakes::silence()), 0, "no reply in time", 1, 0},
        {DropReason::ServerClosed, onPortReport(fakes::closeConnection()), 0,
         "the server closed the connection", 1, 0},
        {DropReason::CloseOrder, onPortReport(fakes::answer(kCloseOrder)), 0,
         "the server's close order", 0, 0},
        {DropReason::CloseOrder, onPortReport(fakes::answer(kCloseOrderAlt)), 0,
         "the server's close order", 0, 0},
        {DropReason::DisconnectCommand, onPortReport(fakes::answer(kDisconnectCommand)), 0,
         "the server's disconnect command", 0, 0},
        // The send and the receive after it count an error each.
        {DropReason::NetworkError, fakes::usualAnswer, 0, "sending failed", 2, 0, kPortReport},
        {DropReason::Silence, fakes::usualAnswer, 10000.01, "no valid reply for 10 s", 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << &row - rows.data() << ": " << row.told);
        m_handler = row.handler;
        m_diagnostics.clear();
        m_view.clear();
        begin();
        m_link->failSendsOf(row.sendFails);
        turns(5);
        m_clock.advanceMs(row.thenMs);
        turns();
        EXPECT_FALSE(m_machine->connected());
        EXPECT_EQ(row.errors, m_machine->errorCount());
        EXPECT_EQ(row.networkErrorEvents, m_view.count(kEventNetworkErrors));
        EXPECT_EQ(std::vector<std::string>{"link to 127.0.0.1 port 12543 dropped (" +
                                           std::string(dropReasonName(row.reason)) +
                                           "): " + row.told},
                  m_diagnostics);
        for (std::size_t i = 0; i < kDropReasons; ++i)
            EXPECT_EQ(i == std::size_t(row.reason), m_machine->figures().drops[i].get() == 1) << i;
    }
}
