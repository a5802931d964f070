// link/cl.cpp
#include "link/cl.h"

#include <thread>

#include "platform/Files.h"
#include "platform/IniFile.h"

namespace msglink {

namespace {

constexpr const char* kSettingsFile = "gpsbridge.ini";
constexpr const char* kNotSet = "127.0.0.1";

Bytes bodyOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

} // namespace

cl::cl(LinkView& view, std::int32_t gatewayNumber, ClientOptions options)
    : m_view(view), m_gatewayNumber(gatewayNumber), m_options(std::move(options))
{
    m_workingDirectory = m_options.workingDirectory.empty() ? platform::currentDirectory()
                                                            : m_options.workingDirectory;
    m_settingsPath = platform::joinPath(m_workingDirectory, kSettingsFile);
    m_store = std::make_unique<backlog::TBackSoob>(m_workingDirectory);
    m_store->setSubdirectoryName(backlog::kStoreDirectory);
    storeReady();
    m_thread.start([this] { execute(); });
}

cl::~cl()
{
    requestStop();
    join();
}

void cl::join()
{
    if (m_thread.joinable())
        m_thread.join();
}

bool cl::storeReady()
{
    if (m_storeOpen)
        return true;
    try {
        m_store->OpenStore();
        m_storeOpen = true;
    } catch (const std::exception&) {
        // A store that cannot be opened (disk, permissions) is tried again by the backlog step.
    }
    return m_storeOpen;
}

double cl::msSince(std::uint64_t earlier) const
{
    return platform::elapsedMs(earlier, now(), m_ticksPerMs);
}

void cl::SendText(const std::string& text)
{
    try {
        Bytes body = bodyOf(text);
        if (m_connected && m_authorised && m_inFlight == InFlight::None &&
            m_queue.QueueFrame(kDataMessage, body, FrameKind::Live))
            return;
        // Down, not yet authorised, a backlog message in flight, or the queue full: kept.
        if (m_storeOpen)
            m_store->AddMessage(kDataMessage, body);
    } catch (...) {
    }
}

void cl::requestStop()
{
    m_linkEnabled = false;
    m_stopRequest = true;
}

void cl::execute()
{
    threadStart();
    while (!m_stopRequest) {
        LinkPass();
        backlogStep();
        m_turns.fetch_add(1, std::memory_order_relaxed);
        // While frames wait, the next turn starts at once; the link's pace is then the
        // server's reply time.
        if (!m_connected || m_queue.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(m_options.idlePauseMs));
    }
    threadEnd();
    m_finished = true;
}

void cl::threadStart()
{
    m_ticksPerMs = m_options.ticksPerMs > 0
                       ? m_options.ticksPerMs
                       : platform::calibrateTicksPerMs(*m_options.clock, m_options.calibration);
    m_accessNoticeShown = false;
    m_addressSlot = 0;
    m_lastPoll = now();
    m_attempted = false;
    m_authorised = false;

    LinkOptions link;
    link.replyWaitMs = m_options.replyWaitMs;
    link.connectTimeoutMs = m_options.connectTimeoutMs;
    link.packetSize = platform::IniFile::load(m_settingsPath)
                          .integer("ServerHost", "PacketSize", kDefaultPacketSize);
    if (link.packetSize <= 0)
        link.packetSize = kDefaultPacketSize;
    link.onDrop = [this] { m_view.advanceLinkIndicator(); };
    m_transport = std::make_unique<LinkTransport>(std::move(link));
    m_connected = false;
}

void cl::threadEnd()
{
    // No frame announces the stop. Data still waiting in the queue has not reached the server:
    // it goes to the backlog and out with the next run. The link counts as down first, so
    // nothing handed over meanwhile lands in the emptied queue.
    m_connected = false;
    m_authorised = false;
    for (const QueuedFrame& f : m_queue.takeAll())
        if (f.kind == FrameKind::Live)
            lostExchange(f);
    m_transport.reset(); // closes the socket without a drop event
}

void cl::LinkPass()
{
    try {
        if (m_connected)
            exchange();
        else if (m_linkEnabled)
            connectionAttempt();
        else if (!m_accessNoticeShown) {
            m_accessNoticeShown = true;
            m_view.appendLinkEvent(kEventAccessDenied);
        }
    } catch (...) {
        // A failed step is skipped; the next turn goes on.
    }
}

void cl::exchange()
{
    if (m_errors > m_options.maxErrors || msSince(m_lastValidReply) > m_options.silenceLimitMs) {
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
    } else if (m_authorised && msSince(m_lastPoll) > m_options.pollIntervalMs) {
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
        lostExchange(sent);
        dropLink();
        return;
    }
    handleReply(payload);
}

void cl::lostExchange(const QueuedFrame& frame)
{
    // A live data message whose exchange failed may or may not have reached the server; kept,
    // it arrives, perhaps twice.
    if (frame.kind != FrameKind::Live || !storeReady())
        return;
    try {
        m_store->AddMessage(readU32(&frame.payload[kHeaderCodeOffset]),
                            Bytes(frame.payload.begin() + kHeaderSize, frame.payload.end()));
    } catch (...) {
    }
}

void cl::handleReply(const Bytes& payload)
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
            m_store->DeleteOldest();
            m_lastBacklogSend = now() - m_options.confirmRewindTicks;
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

void cl::dropLink()
{
    m_connected = false;
    m_transport->dropLink();
    // A backlog message awaiting confirmation, sent or still queued, stays in the store and
    // goes again once the next connection is authorised.
    m_inFlight = InFlight::None;
}

std::string cl::nextServerAddress(const platform::IniFile& ini)
{
    std::string address = ini.text("ServerHost", "Address", kNotSet);
    if (++m_addressSlot > 3)
        m_addressSlot = 1;
    if (m_addressSlot == 2) {
        std::string second = ini.text("ServerHost", "Address2", kNotSet);
        if (second != kNotSet)
            return second;
        m_addressSlot = 3;
    }
    if (m_addressSlot == 3) {
        std::string third = ini.text("ServerHost", "Address3", kNotSet);
        if (third != kNotSet)
            return third;
        m_addressSlot = 0; // slot 4: Address, and the rotation starts over
    }
    return address;
}

void cl::connectionAttempt()
{
    if (m_attempted && msSince(m_lastConnectAttempt) <= m_options.reconnectWaitMs)
        return;
    m_attempted = true;
    m_view.advanceLinkIndicator();
    m_view.appendLinkEvent(kEventConnecting);
    m_lastConnectAttempt = now();
    m_lastValidReply = m_lastConnectAttempt;
    m_authorised = false;

    // The server keys are read again before every attempt: edits apply at the next one.
    platform::IniFile ini = platform::IniFile::load(m_settingsPath);
    m_serverAddress = nextServerAddress(ini);
    m_view.showServerAddress(m_serverAddress);
    m_serverPort = static_cast<std::uint16_t>(ini.integer("ServerHost", "Port", 12543));

    bool ok = false;
    try {
        ok = m_transport->openLink(m_serverAddress, m_serverPort);
    } catch (...) {
    }
    m_connected = ok;
    if (!ok)
        return;
    m_view.appendLinkEvent(kEventConnected);
    m_view.advanceLinkIndicator();
    // Behind whatever the previous connection left in the queue.
    for (const Message& m : loginMessages(m_gatewayNumber))
        m_queue.QueueFrame(m.code, m.body);
}

void cl::backlogStep()
{
    // A server that answered the backlog message with something else (an echo request, say)
    // and never confirms it would stop the backlog for good: after the wait it goes again.
    if (m_inFlight == InFlight::Sent && msSince(m_backlogSentAt) > m_options.confirmWaitMs)
        m_inFlight = InFlight::None;
    if (!m_connected || !m_authorised || m_inFlight != InFlight::None || !storeReady() ||
        m_store->Count() <= 0 || msSince(m_lastBacklogSend) <= m_options.backlogPacingMs)
        return;
    try {
        std::uint32_t code = 0;
        Bytes body;
        if (!m_store->PeekOldest(code, body)) {
            m_store->DeleteOldest(); // damaged
            return;
        }
        if (code == 0) {
            m_store->DeleteOldest();
            return;
        }
        if (m_queue.QueueFrame(code, body, FrameKind::Backlog, m_backlogTicket + 1)) {
            ++m_backlogTicket;
            m_inFlight = InFlight::Queued;
            m_lastBacklogSend = now();
        }
    } catch (...) {
        // A store that fails (disk full, file gone) reports nothing as sent; tried next turn.
    }
}

} // namespace msglink
