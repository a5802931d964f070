// link/LinkMachine.cpp
#include "link/LinkMachine.h"

#include "link/LinkEvents.h"
#include "platform/Files.h"

namespace msglink {

namespace {

constexpr const char* kSettingsFile = "gpsbridge.ini";
constexpr const char* kNotSet = "127.0.0.1";

Bytes bodyOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

} // namespace

LinkMachine::LinkMachine(LinkView& view, const platform::TickClock& clock,
                         std::int32_t gatewayNumber, std::string workingDirectory,
                         LinkTimings timings, Diagnostic diagnostic)
    : m_view(view), m_clock(clock), m_gatewayNumber(gatewayNumber),
      m_settingsPath(platform::joinPath(workingDirectory, kSettingsFile)), m_timings(timings),
      m_diagnostic(std::move(diagnostic)), m_store(workingDirectory)
{
    m_store.setSubdirectoryName(backlog::kStoreDirectory);
    storeReady();
}

bool LinkMachine::storeReady()
{
    if (m_storeOpen)
        return true;
    // A store that cannot be opened (disk, permissions) is tried again by the next turn.
    backlog::StoreStatus s = m_store.OpenStore();
    if (!s)
        report("backlog: " + s.text());
    else
        m_lastReport.clear();
    m_storeOpen = s.isOk();
    return m_storeOpen;
}

void LinkMachine::report(const std::string& text)
{
    // A store that keeps failing says so once, not at every turn.
    if (text == m_lastReport)
        return;
    m_lastReport = text;
    if (m_diagnostic)
        m_diagnostic(text);
}

double LinkMachine::msSince(std::uint64_t earlier) const
{
    return platform::elapsedMs(earlier, now(), m_ticksPerMs);
}

void LinkMachine::SendText(const std::string& text)
{
    Bytes body = bodyOf(text);
    if (m_connected && m_authorised && m_inFlight == InFlight::None &&
        m_queue.QueueFrame(kDataMessage, body, FrameKind::Live))
        return;
    // Down, not yet authorised, a backlog message in flight, or the queue full: kept.
    keep(kDataMessage, body, "a position message");
}

void LinkMachine::keep(std::uint32_t code, const Bytes& body, const char* what)
{
    if (!m_storeOpen) {
        report(std::string("backlog not open: ") + what + " is lost");
        return;
    }
    if (backlog::StoreStatus s = m_store.AddMessage(code, body); !s)
        report("backlog: " + s.text() + "; " + what + " is lost");
}

void LinkMachine::start(std::int64_t ticksPerMs, std::unique_ptr<Transport> transport)
{
    m_ticksPerMs = ticksPerMs > 0 ? ticksPerMs : 1;
    m_transport = std::move(transport);
    m_accessNoticeShown = false;
    m_addressSlot = 0;
    m_lastPoll = now();
    m_attempted = false;
    m_authorised = false;
    m_connected = false;
}

void LinkMachine::turn()
{
    LinkPass();
    backlogStep();
}

void LinkMachine::end()
{
    // No frame announces the stop. Data still waiting in the queue has not reached the server:
    // it goes to the backlog and out with the next run. The link counts as down first, so
    // nothing handed over meanwhile lands in the emptied queue.
    m_connected = false;
    m_authorised = false;
    for (const QueuedFrame& f : m_queue.takeAll())
        keepLost(f);
    m_transport.reset(); // closes the socket without a drop event
}

void LinkMachine::LinkPass()
{
    if (m_connected)
        exchange();
    else if (m_linkEnabled)
        connectionAttempt();
    else if (!m_accessNoticeShown) {
        m_accessNoticeShown = true;
        m_view.appendLinkEvent(kEventAccessDenied);
    }
}

void LinkMachine::exchange()
{
    if (m_errors > m_timings.maxErrors || msSince(m_lastValidReply) > m_timings.silenceLimitMs) {
        m_errors = 0;
        m_view.appendLinkEvent(kEventNetworkErrors);
        dropLink();
        return;
    }

    QueuedFrame sent;
    if (std::optional<QueuedFrame> next = m_queue.QueuePeek()) {
        sent = std::move(*next);
        m_queue.QueuePop(); // gone whatever the send does; never sent again
        if (sent.kind == FrameKind::Backlog) {
            // A backlog frame queued on a connection that has since dropped is stale: the store
            // still holds its record, which goes again once this connection is authorised.
            if (m_inFlight != InFlight::Queued || sent.ticket != m_backlogTicket)
                return;
            m_inFlight = InFlight::Sent;
            m_backlogSentAt = now();
        }
        if (!m_transport->sendFrame(sent.payload))
            ++m_errors;
    } else if (m_authorised && msSince(m_lastPoll) > m_timings.pollIntervalMs) {
        m_lastPoll = now();
        if (!m_transport->sendFrame(buildPoll()))
            ++m_errors;
    } else {
        return;
    }

    Bytes payload;
    if (m_transport->receiveFrame(payload) != ReceiveStatus::Ok) {
        ++m_errors;
        // Kept before the link is marked down, so that nothing handed over after the drop
        // gets into the backlog ahead of it.
        keepLost(sent);
        dropLink();
        return;
    }
    handleReply(payload);
}

void LinkMachine::keepLost(const QueuedFrame& frame)
{
    // A live data message whose exchange failed may or may not have reached the server; kept,
    // it arrives, perhaps twice.
    if (frame.kind != FrameKind::Live)
        return;
    storeReady();
    keep(readU32(&frame.payload[kHeaderCodeOffset]),
         Bytes(frame.payload.begin() + kHeaderSize, frame.payload.end()),
         "a message whose exchange failed");
}

void LinkMachine::handleReply(const Bytes& payload)
{
    std::optional<Reply> reply = checkReply(payload);
    if (!reply)
        return; // wrong markers: ignored, the link stays up
    m_lastValidReply = now();
    m_view.advanceLinkIndicator();
    switch (reply->kind) {
    case ReplyKind::LoginAccepted:
        m_authorised = true;
        break;
    case ReplyKind::DeliveryConfirmation:
        // Only a confirmation that can answer the backlog frame counts: one that arrives while
        // that frame still waits in the queue answers something else.
        if (m_inFlight == InFlight::Sent) {
            if (backlog::StoreStatus s = m_store.DeleteOldest(); !s) {
                // Still in the store: it goes again once the confirmation wait is over.
                report("backlog: " + s.text() + "; a confirmed message stays and goes again");
                break;
            }
            m_lastBacklogSend = now() - m_timings.confirmRewindTicks;
            m_inFlight = InFlight::None;
        }
        break;
    case ReplyKind::EchoRequest:
        m_queue.QueueFrame(kEchoReply, {});
        break;
    case ReplyKind::CloseOrder:
        dropLink();
        break;
    case ReplyKind::DisconnectCommand:
        m_errors = 0;
        m_lastConnectAttempt = now();
        dropLink();
        m_view.appendLinkEvent(kEventServerDisconnect);
        break;
    case ReplyKind::PollReply:
    case ReplyKind::Other:
        break;
    }
}

void LinkMachine::dropLink()
{
    m_connected = false;
    m_transport->dropLink();
    // A backlog message awaiting confirmation, sent or still queued, stays in the store and
    // goes again once the next connection is authorised.
    m_inFlight = InFlight::None;
}

std::string LinkMachine::nextServerAddress(const platform::IniFile& settings)
{
    std::string address = settings.text("ServerHost", "Address", kNotSet);
    if (++m_addressSlot > 3)
        m_addressSlot = 1;
    if (m_addressSlot == 2) {
        std::string second = settings.text("ServerHost", "Address2", kNotSet);
        if (second != kNotSet)
            return second;
        m_addressSlot = 3;
    }
    if (m_addressSlot == 3) {
        std::string third = settings.text("ServerHost", "Address3", kNotSet);
        if (third != kNotSet)
            return third;
        m_addressSlot = 0; // slot 4: Address, and the rotation starts over
    }
    return address;
}

void LinkMachine::connectionAttempt()
{
    if (m_attempted && msSince(m_lastConnectAttempt) <= m_timings.reconnectWaitMs)
        return;
    m_attempted = true;
    m_view.advanceLinkIndicator();
    m_view.appendLinkEvent(kEventConnecting);
    m_lastConnectAttempt = now();
    m_lastValidReply = m_lastConnectAttempt;
    m_authorised = false;

    // The server keys are read again before every attempt: edits apply at the next one.
    platform::IniFile settings = platform::IniFile::load(m_settingsPath);
    std::string address = nextServerAddress(settings);
    m_view.showServerAddress(address);
    auto port = static_cast<std::uint16_t>(settings.integer("ServerHost", "Port", 12543));

    bool ok = m_transport->openLink(address, port);
    m_connected = ok;
    if (!ok) {
        // Once per reason, not at every attempt of a server that stays away.
        std::string why = "cannot connect to the message server at " + address + " port " +
                          std::to_string(port) + ": " + m_transport->failure();
        if (why != m_lastConnectFailure && m_diagnostic)
            m_diagnostic(why);
        m_lastConnectFailure = why;
        return;
    }
    m_lastConnectFailure.clear();
    m_view.appendLinkEvent(kEventConnected);
    m_view.advanceLinkIndicator();
    // Behind whatever the previous connection left in the queue.
    for (const Message& m : loginMessages(m_gatewayNumber))
        m_queue.QueueFrame(m.code, m.body);
}

void LinkMachine::backlogStep()
{
    // A server that answered the backlog message with something else (an echo request, say)
    // and never confirms it would stop the backlog for good: after the wait it goes again.
    if (m_inFlight == InFlight::Sent && msSince(m_backlogSentAt) > m_timings.confirmWaitMs)
        m_inFlight = InFlight::None;
    if (!m_connected || !m_authorised || m_inFlight != InFlight::None || !storeReady() ||
        m_store.Count() <= 0 || msSince(m_lastBacklogSend) <= m_timings.backlogPacingMs)
        return;
    backlog::TBackSoob::Peek oldest = m_store.PeekOldest();
    if (!oldest.status) {
        // Nothing is reported as sent; tried again next turn.
        report("backlog: " + oldest.status.text());
        return;
    }
    if (!oldest.good || oldest.code == 0) {
        // Damaged, or a record with code 0: taken away unsent.
        if (backlog::StoreStatus s = m_store.DeleteOldest(); !s)
            report("backlog: " + s.text());
        return;
    }
    if (m_queue.QueueFrame(oldest.code, oldest.body, FrameKind::Backlog, m_backlogTicket + 1)) {
        ++m_backlogTicket;
        m_inFlight = InFlight::Queued;
        m_lastBacklogSend = now();
    }
}

} // namespace msglink
