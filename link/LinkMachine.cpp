// link/LinkMachine.cpp
#include "link/LinkMachine.h"

#include <iterator>
#include <utility>

#include "link/LinkEvents.h"
#include "platform/Files.h"

namespace msglink {

namespace {

constexpr const char* kSettingsFile = "gpsbridge.ini";

// "10 s", "0.5 s".
std::string seconds(double ms)
{
    std::string text = std::to_string(ms / 1000.0);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.')
        text.pop_back();
    return text + " s";
}

struct ReceiveFailure
{
    DropReason reason;
    const char* what;
};

// What each way a reply can fail means for the link.
constexpr std::pair<ReceiveStatus, ReceiveFailure> kReceiveFailures[] = {
    {ReceiveStatus::TimedOut, {DropReason::Silence, "no reply in time"}},
    {ReceiveStatus::Closed, {DropReason::ServerClosed, "the server closed the connection"}},
    {ReceiveStatus::ShortEnvelope,
     {DropReason::NotAFrame, "a reply that is not a frame (shorter than an envelope)"}},
    {ReceiveStatus::BadMarker,
     {DropReason::NotAFrame, "a reply that is not a frame (wrong envelope marker)"}},
    {ReceiveStatus::EmptyPayload,
     {DropReason::NotAFrame, "a reply that is not a frame (no payload)"}},
    {ReceiveStatus::Oversized,
     {DropReason::NotAFrame, "a reply that is not a frame (payload above the limit)"}},
    {ReceiveStatus::WaitFailed, {DropReason::NetworkError, "the wait for the reply failed"}},
    {ReceiveStatus::ReadFailed, {DropReason::NetworkError, "reading the reply failed"}},
};

ReceiveFailure receiveFailure(ReceiveStatus status)
{
    for (const auto& [failed, failure] : kReceiveFailures)
        if (failed == status)
            return failure;
    return {DropReason::NetworkError, "no connection"};
}

// By DropReason, in its order.
constexpr const char* kDropReasonNames[] = {
    "connect_failed", "no_login",      "not_a_frame",   "silence",     "marker_mismatch",
    "error_limit",    "server_closed", "network_error", "close_order", "disconnect_command",
};
static_assert(std::size(kDropReasonNames) == kDropReasons);

} // namespace

const char* dropReasonName(DropReason reason)
{
    return kDropReasonNames[static_cast<std::size_t>(reason)];
}

LinkMachine::LinkMachine(LinkView& view, const platform::TickClock& clock, Outbox& outbox,
                         std::int32_t gatewayNumber, std::string workingDirectory,
                         LinkTimings timings, Diagnostic diagnostic)
    : m_view(view), m_clock(clock), m_outbox(outbox), m_gatewayNumber(gatewayNumber),
      m_settingsPath(platform::joinPath(workingDirectory, kSettingsFile)), m_timings(timings),
      m_diagnostic(std::move(diagnostic))
{
}

void LinkMachine::start(std::unique_ptr<Transport> transport)
{
    m_transport = std::move(transport);
    m_accessNoticeShown = false;
    m_addressSlot = 0;
    m_lastPoll = now();
    m_attempted = false;
    setAuthorised(false);
    m_connected = false;
}

void LinkMachine::end()
{
    // No frame announces the stop; what was not confirmed stays in the backlog for the next run.
    m_connected = false;
    setAuthorised(false);
    m_transport.reset(); // closes the socket without a drop event
    m_outbox.commit();
}

void LinkMachine::turn()
{
    m_outbox.open();
    step();
}

void LinkMachine::step()
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

void LinkMachine::setAuthorised(bool authorised)
{
    m_authorised = authorised;
    m_outbox.setLinkReady(authorised);
}

bool LinkMachine::dataMayGo() const
{
    return !m_awaiting &&
           (m_staleOwed == 0 || msSince(m_staleSince) > m_timings.staleConfirmationWaitMs);
}

bool LinkMachine::framesWaiting() const
{
    return !m_queue.empty() ||
           (m_connected && m_authorised && dataMayGo() && m_outbox.readyToSend());
}

void LinkMachine::exchange()
{
    // A server that answered the backlog message with something else (an echo request, say)
    // and never confirms it would stop delivery for good: after the wait it goes again.
    if (m_awaiting && msSince(m_dataSentAt) > m_timings.confirmWaitMs)
        m_awaiting = false;
    if (std::optional<DropReason> why = silenceCheck()) {
        m_errors = 0;
        m_view.appendLinkEvent(kEventNetworkErrors);
        drop(*why, silenceText(*why));
        return;
    }
    m_sendFailed = false;
    const Sent sent = sendNext();
    if (sent == Sent::Nothing)
        return;
    Bytes payload;
    if (const ReceiveStatus status = m_transport->receiveFrame(payload);
        status != ReceiveStatus::Ok) {
        // The message that went, if any, stays in the backlog and goes again after the next
        // login: it may arrive twice, it is not lost.
        ++m_errors;
        const ReceiveFailure failure =
            m_sendFailed ? ReceiveFailure{DropReason::NetworkError, "sending failed"}
                         : receiveFailure(status);
        drop(failure.reason, failure.what);
        return;
    }
    handleReply(payload, sent);
}

std::optional<DropReason> LinkMachine::silenceCheck() const
{
    if (m_errors > m_timings.maxErrors)
        return DropReason::ErrorLimit;
    if (msSince(m_lastValidReply) <= m_timings.silenceLimitMs)
        return std::nullopt;
    if (m_wrongMarkers)
        return DropReason::MarkerMismatch;
    return m_authorised ? DropReason::Silence : DropReason::NoLogin;
}

std::string LinkMachine::silenceText(DropReason reason) const
{
    const std::string limit = seconds(m_timings.silenceLimitMs);
    switch (reason) {
    case DropReason::ErrorLimit:
        return "more than " + std::to_string(m_timings.maxErrors) + " failed exchanges";
    case DropReason::MarkerMismatch:
        return "only replies with wrong header markers for " + limit;
    case DropReason::NoLogin:
        return "no login accepted within " + limit;
    default:
        break;
    }
    return "no valid reply for " + limit;
}

void LinkMachine::sendFrame(const Bytes& frame)
{
    if (!m_transport->sendFrame(frame)) {
        ++m_errors;
        m_sendFailed = true;
    }
}

LinkMachine::Sent LinkMachine::sendNext()
{
    if (std::optional<Bytes> frame = m_queue.peek()) {
        m_queue.pop(); // gone whatever the send does; never sent again
        sendFrame(*frame);
        return Sent::Control;
    }
    if (m_authorised && dataMayGo() && sendData())
        return Sent::Data;
    if (m_authorised && msSince(m_lastPoll) > m_timings.pollIntervalMs) {
        m_lastPoll = now();
        sendFrame(buildPoll());
        return Sent::Control;
    }
    return Sent::Nothing;
}

bool LinkMachine::sendData()
{
    std::optional<OutgoingMessage> oldest = m_outbox.oldest();
    if (!oldest)
        return false;
    m_dataLive = oldest->live;
    m_dataSentAt = now();
    ++m_copies;
    // The outbox gives the same message until it is done: one that went before goes again.
    if (m_dataUndone)
        m_figures.resends.add();
    m_dataUndone = true;
    if (!m_dataLive)
        m_awaiting = true;
    sendFrame(m_queue.numberedFrame(oldest->code, oldest->body));
    return true;
}

void LinkMachine::handleReply(const Bytes& payload, Sent sent)
{
    std::optional<Reply> reply = checkReply(payload);
    if (!reply) {
        // Wrong markers: ignored, the link stays up. Whether the server took the message that
        // went is unknown: it waits for a confirmation, or goes again after the confirmation
        // wait.
        if (sent == Sent::Data)
            m_awaiting = true;
        m_wrongMarkers = true;
        return;
    }
    m_lastValidReply = now();
    m_wrongMarkers = false;
    advanceIndicator(true);
    const bool confirmation = reply->kind == ReplyKind::DeliveryConfirmation;
    if (sent == Sent::Data) {
        if (m_dataLive || confirmation)
            messageDone(confirmation && !m_dataLive);
    } else if (confirmation && m_awaiting) {
        messageDone(true); // a confirmation that came later
    } else if (confirmation && m_staleOwed > 0) {
        --m_staleOwed; // one for another copy of the message before: it counts for nothing
    }
    handleCode(reply->kind);
}

void LinkMachine::handleCode(ReplyKind kind)
{
    switch (kind) {
    case ReplyKind::LoginAccepted:
        setAuthorised(true);
        break;
    case ReplyKind::EchoRequest:
        m_queue.pushFrame(kEchoReply, {});
        break;
    case ReplyKind::CloseOrder:
        drop(DropReason::CloseOrder, "the server's close order");
        break;
    case ReplyKind::DisconnectCommand:
        m_errors = 0;
        m_lastConnectAttempt = now();
        drop(DropReason::DisconnectCommand, "the server's disconnect command");
        m_view.appendLinkEvent(kEventServerDisconnect);
        break;
    case ReplyKind::DeliveryConfirmation:
    case ReplyKind::PollReply:
    case ReplyKind::Other:
        break;
    }
}

void LinkMachine::messageDone(bool confirmed)
{
    m_outbox.done(confirmed);
    m_dataUndone = false;
    m_awaiting = false;
    // Every other copy of this message sent on this connection may still be confirmed.
    m_staleOwed = m_copies > 1 ? m_copies - 1 : 0;
    m_staleSince = now();
    m_copies = 0;
}

void LinkMachine::drop(DropReason reason, const std::string& what)
{
    m_figures.drops[static_cast<std::size_t>(reason)].add();
    if (m_diagnostic)
        m_diagnostic("link to " + m_server + " dropped (" + dropReasonName(reason) + "): " + what);
    dropLink();
}

void LinkMachine::dropLink()
{
    m_connected = false;
    m_transport->dropLink();
    // A message awaiting its reply or confirmation stays in the backlog and goes again once the
    // next connection is logged in; from now on everything waiting needs a confirmation.
    m_awaiting = false;
    m_copies = 0;
    m_staleOwed = 0;
    m_outbox.setLinkReady(false);
}

std::string LinkMachine::nextServerAddress(const ServerSettings& settings)
{
    if (++m_addressSlot > 3)
        m_addressSlot = 1;
    if (m_addressSlot == 2) {
        if (settings.address2 != kUnsetServerAddress)
            return settings.address2;
        m_addressSlot = 3;
    }
    if (m_addressSlot == 3) {
        if (settings.address3 != kUnsetServerAddress)
            return settings.address3;
        m_addressSlot = 0; // slot 4: Address, and the rotation starts over
    }
    return settings.address;
}

void LinkMachine::advanceIndicator(bool validReply)
{
    // Attempts and connections always step it: its redraw shows the link's new state.
    const std::uint64_t at = now();
    if (validReply && m_indicatorStepped &&
        m_clock.msBetween(m_lastIndicatorStep, at) < m_timings.indicatorStepMs)
        return;
    m_indicatorStepped = true;
    m_lastIndicatorStep = at;
    m_view.advanceLinkIndicator();
}

void LinkMachine::connectionAttempt()
{
    if (m_attempted && msSince(m_lastConnectAttempt) <= m_timings.reconnectWaitMs)
        return;
    m_attempted = true;
    m_figures.attempts.add();
    advanceIndicator(false);
    m_view.appendLinkEvent(kEventConnecting);
    m_lastConnectAttempt = now();
    m_lastValidReply = m_lastConnectAttempt;
    m_wrongMarkers = false;
    setAuthorised(false);

    // The server keys are read again before every attempt: edits apply at the next one.
    const ServerSettings settings = loadServerSettings(m_settingsPath);
    std::string address = nextServerAddress(settings);
    m_view.showServerAddress(address);
    const std::uint16_t port = settings.port;
    m_server = address + " port " + std::to_string(port);

    bool ok = m_transport->openLink(address, port);
    m_connected = ok;
    if (!ok) {
        connectFailed();
        return;
    }
    m_lastConnectFailure.clear();
    m_view.appendLinkEvent(kEventConnected);
    advanceIndicator(false);
    // The login goes first on a new connection: what the last one left queued (echo replies)
    // belonged to it, and data waits in the backlog.
    m_queue.clear();
    for (const Message& m : loginMessages(m_gatewayNumber))
        m_queue.pushFrame(m.code, m.body);
}

void LinkMachine::connectFailed()
{
    m_figures.drops[static_cast<std::size_t>(DropReason::ConnectFailed)].add();
    // Once per reason, not at every attempt of a server that stays away.
    std::string why =
        "cannot connect to the message server at " + m_server + ": " + m_transport->failure();
    if (why != m_lastConnectFailure && m_diagnostic)
        m_diagnostic(why);
    m_lastConnectFailure = why;
}

} // namespace msglink
