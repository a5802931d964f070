// link/LinkMachine.cpp
#include "link/LinkMachine.h"

#include "link/LinkEvents.h"
#include "platform/Files.h"

namespace msglink {

namespace {

constexpr const char* kSettingsFile = "gpsbridge.ini";

Bytes bodyOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

} // namespace

LinkMachine::LinkMachine(LinkView& view, const platform::TickClock& clock,
                         std::int32_t gatewayNumber, std::string workingDirectory,
                         LinkTimings timings, Diagnostic diagnostic, platform::FileSystem& files)
    : m_view(view), m_clock(clock), m_gatewayNumber(gatewayNumber),
      m_settingsPath(platform::joinPath(workingDirectory, kSettingsFile)), m_timings(timings),
      m_diagnostic(std::move(diagnostic)), m_createdAt(clock.read()),
      m_store(workingDirectory, files)
{
    m_store.setSubdirectoryName(backlog::kStoreDirectory);
}

void LinkMachine::openStore()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_openTried && (m_store.isOpen() || msSince(m_lastReopen) <= m_timings.reopenWaitMs))
            return;
        m_openTried = true;
        m_lastReopen = now();
    }
    backlog::StoreStatus opened = m_store.open();
    std::string told;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        told = noteStoreStatus(opened);
    }
    tell(told);
}

std::string LinkMachine::noteStoreStatus(const backlog::StoreStatus& status)
{
    // A failure is told when it is new or its reason changed, the recovery once.
    std::string told;
    const bool wasFailing = !m_storeProblem.empty();
    if (!status && m_storeProblem != status.text())
        told = std::string(kEventBacklogFailing) + ": " + status.text();
    else if (status && wasFailing)
        told = kEventBacklogRecovered;
    m_storeProblem = status.text();
    return told;
}

void LinkMachine::tell(const std::string& told)
{
    if (told.empty())
        return;
    m_view.appendLinkEvent(told);
    if (m_diagnostic)
        m_diagnostic(told);
}

void LinkMachine::report(const std::string& text)
{
    // Told each time: the diagnostic's receiver keeps repeats from flooding (the shipped one
    // shows the same line once a minute), and a trouble that comes back after a recovery is
    // told again.
    if (m_diagnostic)
        m_diagnostic(text);
}

double LinkMachine::oldestWaitingSeconds() const
{
    const std::int64_t waiting = m_store.pendingCount();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (waiting <= 0)
        return 0;
    // More waiting than this run stored: the oldest is from an earlier run.
    const bool older = waiting > static_cast<std::int64_t>(m_stamps.size());
    if (!older && m_stamps.empty())
        return 0;
    return msSince(older ? m_createdAt : m_stamps.front()) / 1000.0;
}

std::string LinkMachine::storeProblem() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_storeProblem;
}

bool LinkMachine::storeMessage(const std::string& text)
{
    std::string told; // said after the lock is let go: the view may wait for another thread
    bool stored = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // A store that is not open (yet) keeps nothing; the runner tries to open it.
        backlog::StoreStatus status = m_store.append(kDataMessage, bodyOf(text));
        if (!status && !m_store.isOpen())
            return false; // told when the opening failed
        told = noteStoreStatus(status);
        if (status) {
            stored = true;
            const std::int64_t index = m_appended++;
            m_stamps.push_back(now());
            // Nothing older waits and the link is up: this one is sent as it came.
            if (m_liveFrom < 0 && m_connected && m_authorised && m_store.pendingCount() <= 1)
                m_liveFrom = index;
        }
    }
    tell(told);
    return stored;
}

void LinkMachine::sync()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_lastSync != 0 && msSince(m_lastSync) < m_timings.syncIntervalMs)
            return;
        m_lastSync = now();
    }
    if (backlog::StoreStatus s = m_store.sync(); !s)
        report("backlog: " + s.text());
}

void LinkMachine::start(std::unique_ptr<Transport> transport)
{
    m_transport = std::move(transport);
    m_accessNoticeShown = false;
    m_addressSlot = 0;
    m_lastPoll = now();
    m_attempted = false;
    m_authorised = false;
    m_connected = false;
}

void LinkMachine::end()
{
    // No frame announces the stop; what was not confirmed stays in the backlog for the next run.
    m_connected = false;
    m_authorised = false;
    m_transport.reset(); // closes the socket without a drop event
    if (backlog::StoreStatus s = m_store.sync(); !s)
        report("backlog: " + s.text());
}

void LinkMachine::turn()
{
    openStore();
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

bool LinkMachine::dataMayGo() const
{
    return !m_awaiting &&
           (m_staleOwed == 0 || msSince(m_staleSince) > m_timings.staleConfirmationWaitMs);
}

bool LinkMachine::framesWaiting() const
{
    return !m_queue.empty() ||
           (m_connected && m_authorised && dataMayGo() && m_store.pendingCount() > 0);
}

bool LinkMachine::isLive(std::int64_t appendIndex) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return appendIndex >= 0 && m_liveFrom >= 0 && appendIndex >= m_liveFrom;
}

void LinkMachine::exchange()
{
    // A server that answered the backlog message with something else (an echo request, say)
    // and never confirms it would stop delivery for good: after the wait it goes again.
    if (m_awaiting && msSince(m_dataSentAt) > m_timings.confirmWaitMs)
        m_awaiting = false;
    if (m_errors > m_timings.maxErrors || msSince(m_lastValidReply) > m_timings.silenceLimitMs) {
        m_errors = 0;
        m_view.appendLinkEvent(kEventNetworkErrors);
        dropLink();
        return;
    }
    const Sent sent = sendNext();
    if (sent == Sent::Nothing)
        return;
    Bytes payload;
    if (m_transport->receiveFrame(payload) != ReceiveStatus::Ok) {
        // The message that went, if any, stays in the backlog and goes again after the next
        // login: it may arrive twice, it is not lost.
        ++m_errors;
        dropLink();
        return;
    }
    handleReply(payload, sent);
}

LinkMachine::Sent LinkMachine::sendNext()
{
    if (std::optional<Bytes> frame = m_queue.peek()) {
        m_queue.pop(); // gone whatever the send does; never sent again
        if (!m_transport->sendFrame(*frame))
            ++m_errors;
        return Sent::Control;
    }
    if (m_authorised && dataMayGo() && sendData())
        return Sent::Data;
    if (m_authorised && msSince(m_lastPoll) > m_timings.pollIntervalMs) {
        m_lastPoll = now();
        if (!m_transport->sendFrame(buildPoll()))
            ++m_errors;
        return Sent::Control;
    }
    return Sent::Nothing;
}

bool LinkMachine::sendData()
{
    backlog::BacklogStore::Oldest oldest = m_store.oldest();
    if (!oldest.status) {
        report("backlog: " + oldest.status.text());
        return false;
    }
    if (!oldest.found)
        return false;
    if (!oldest.good) {
        // A damaged record: taken away unsent.
        m_dataIndex = oldest.appendIndex;
        m_copies = 0;
        if (backlog::StoreStatus s = m_store.takeOldest(); !s)
            report("backlog: " + s.text());
        messageDone(false, false);
        return false;
    }
    m_dataIndex = oldest.appendIndex;
    m_dataLive = isLive(oldest.appendIndex);
    m_dataSentAt = now();
    ++m_copies;
    if (!m_dataLive)
        m_awaiting = true;
    if (!m_transport->sendFrame(m_queue.numberedFrame(oldest.code, oldest.body)))
        ++m_errors;
    return true;
}

void LinkMachine::handleReply(const Bytes& payload, Sent sent)
{
    std::optional<Reply> reply = checkReply(payload);
    if (!reply) {
        // Wrong markers: ignored, the link stays up. A message sent as it came counts as sent,
        // as any reply does for it; one from the backlog still awaits its confirmation.
        if (sent == Sent::Data && m_dataLive)
            messageDone(true, false);
        return;
    }
    m_lastValidReply = now();
    m_view.advanceLinkIndicator();
    const bool confirmation = reply->kind == ReplyKind::DeliveryConfirmation;
    if (sent == Sent::Data) {
        if (m_dataLive || confirmation)
            messageDone(true, confirmation && !m_dataLive);
    } else if (confirmation && m_awaiting) {
        messageDone(true, true); // a confirmation that came later
    } else if (confirmation && m_staleOwed > 0) {
        --m_staleOwed; // one for another copy of the message before: it counts for nothing
    }
    switch (reply->kind) {
    case ReplyKind::LoginAccepted:
        m_authorised = true;
        break;
    case ReplyKind::EchoRequest:
        m_queue.pushFrame(kEchoReply, {});
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
    case ReplyKind::DeliveryConfirmation:
    case ReplyKind::PollReply:
    case ReplyKind::Other:
        break;
    }
}

void LinkMachine::messageDone(bool delivered, bool confirmed)
{
    if (delivered) {
        if (backlog::StoreStatus s = m_store.takeOldest(); !s)
            report("backlog: " + s.text() + "; a delivered message stays and goes again");
        (confirmed ? m_figures.deliveredBacklog : m_figures.deliveredLive).add();
    }
    m_awaiting = false;
    // Every other copy of this message sent on this connection may still be confirmed.
    m_staleOwed = m_copies > 1 ? m_copies - 1 : 0;
    m_staleSince = now();
    m_copies = 0;
    if (m_dataIndex < 0)
        return;
    std::uint64_t stamp = 0;
    bool stamped = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (!m_stamps.empty() && m_stampBase <= m_dataIndex) {
            stamped = m_stampBase == m_dataIndex;
            stamp = m_stamps.front();
            m_stamps.pop_front();
            ++m_stampBase;
        }
    }
    if (stamped && delivered)
        m_figures.storedToDelivered.observe(msSince(stamp) / 1000.0);
    m_dataIndex = -1;
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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_liveFrom = -1;
}

std::string LinkMachine::nextServerAddress(const platform::IniFile& settings)
{
    std::string address = settings.text("ServerHost", "Address", kUnsetServerAddress);
    if (++m_addressSlot > 3)
        m_addressSlot = 1;
    if (m_addressSlot == 2) {
        std::string second = settings.text("ServerHost", "Address2", kUnsetServerAddress);
        if (second != kUnsetServerAddress)
            return second;
        m_addressSlot = 3;
    }
    if (m_addressSlot == 3) {
        std::string third = settings.text("ServerHost", "Address3", kUnsetServerAddress);
        if (third != kUnsetServerAddress)
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
    m_figures.attempts.add();
    m_view.advanceLinkIndicator();
    m_view.appendLinkEvent(kEventConnecting);
    m_lastConnectAttempt = now();
    m_lastValidReply = m_lastConnectAttempt;
    m_authorised = false;

    // The server keys are read again before every attempt: edits apply at the next one.
    platform::IniFile settings = platform::IniFile::load(m_settingsPath);
    std::string address = nextServerAddress(settings);
    m_view.showServerAddress(address);
    auto port =
        static_cast<std::uint16_t>(settings.integer("ServerHost", "Port", kDefaultServerPort));

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
    // The login goes first on a new connection: what the last one left queued (echo replies)
    // belonged to it, and data waits in the backlog.
    m_queue.clear();
    for (const Message& m : loginMessages(m_gatewayNumber))
        m_queue.pushFrame(m.code, m.body);
}

} // namespace msglink
