// link/LinkMachine.h: the message-server client's state machine: connection attempts, the
// exchanges, the backlog drain. One turn at a time on whatever thread runs it, so it can be
// stepped turn by turn with a clock and a transport in hand.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "backlog/TBackSoob.h"
#include "link/LinkView.h"
#include "link/SendQueue.h"
#include "link/Transport.h"
#include "platform/IniFile.h"
#include "platform/TickClock.h"

namespace msglink {

// The link's timings and limits; the program runs with the defaults.
struct LinkTimings
{
    double reconnectWaitMs = 5000.0;
    double silenceLimitMs = 10000.0;
    double pollIntervalMs = 500.0;
    double backlogPacingMs = 20.0;
    // A backlog message sent this long ago without a confirmation is sent again.
    double confirmWaitMs = 10000.0;
    // A confirmation lets the next backlog message follow this many ticks sooner.
    std::uint64_t confirmRewindTicks = 100000;
    int maxErrors = 20;
};

class LinkMachine
{
public:
    using Diagnostic = std::function<void(const std::string&)>;

    // Opens the backlog store in <workingDirectory>/dd8 at once, so nothing handed to SendText
    // is lost; a store that cannot be opened is tried again by later turns. The view and the
    // clock must outlive the machine. gatewayNumber is the FirstNumber setting.
    LinkMachine(LinkView& view, const platform::TickClock& clock, std::int32_t gatewayNumber,
                std::string workingDirectory, LinkTimings timings = {}, Diagnostic diagnostic = {});

    LinkMachine(const LinkMachine&) = delete;
    LinkMachine& operator=(const LinkMachine&) = delete;

    // Window's thread (any thread). One position message: queued live when the link is up,
    // authorised and not busy with a backlog message, kept in the backlog otherwise (also when
    // the queue is full).
    void SendText(const std::string& text);

    // Runner's thread, once, before the first turn: the thread start's settings (address
    // rotation, poll timer, the chunk size read by the caller into the transport).
    void start(std::int64_t ticksPerMs, std::unique_ptr<Transport> transport);

    // Runner's thread: one turn of the loop, LinkPass then the backlog step.
    void turn();
    void LinkPass();
    void backlogStep();

    // Runner's thread, once, after the last turn: the link counts as down, data still queued
    // goes to the backlog, the connection is closed without a frame.
    void end();

    // Any thread. While clear, no connection attempt is made (the close clears it).
    void setLinkEnabled(bool enabled) { m_linkEnabled = enabled; }

    // Any thread, without a lock.
    bool connected() const { return m_connected.load(); }
    bool authorised() const { return m_authorised.load(); }
    bool inFlight() const { return m_inFlight.load() != InFlight::None; }
    std::int32_t errorCount() const { return m_errors.load(); }
    std::int32_t backlogCount() const { return m_store.Count(); }
    // Frames wait in the send queue: the runner starts the next turn without its pause.
    bool framesWaiting() const { return !m_queue.empty(); }

private:
    // The backlog message awaiting confirmation: queued, or sent (only then can a confirmation
    // be its own).
    enum class InFlight
    {
        None,
        Queued,
        Sent
    };

    void exchange();
    void connectionAttempt();
    void handleReply(const Bytes& payload);
    void dropLink();
    void keepLost(const QueuedFrame& frame);
    void keep(std::uint32_t code, const Bytes& body, const char* why);
    bool storeReady();
    void report(const std::string& text);
    std::string nextServerAddress(const platform::IniFile& settings);

    std::uint64_t now() const { return m_clock.read(); }
    double msSince(std::uint64_t earlier) const;

    LinkView& m_view;
    const platform::TickClock& m_clock;
    const std::int32_t m_gatewayNumber;
    const std::string m_settingsPath;
    const LinkTimings m_timings;
    const Diagnostic m_diagnostic;

    std::atomic<bool> m_linkEnabled{true};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_authorised{false};
    std::atomic<InFlight> m_inFlight{InFlight::None};
    std::atomic<std::int32_t> m_errors{0};

    // Runner's thread only.
    std::int64_t m_ticksPerMs = 1;
    std::uint64_t m_lastValidReply = 0;
    std::uint64_t m_lastPoll = 0;
    std::uint64_t m_lastConnectAttempt = 0;
    bool m_attempted = false; // the first attempt goes at once
    std::uint64_t m_lastBacklogSend = 0;
    std::uint64_t m_backlogSentAt = 0; // when the in-flight backlog message went out
    std::uint64_t m_backlogTicket = 0; // the in-flight backlog frame's ticket
    std::uint8_t m_addressSlot = 0;
    bool m_accessNoticeShown = false;
    std::string m_lastConnectFailure; // told once until the link comes up or the reason changes
    std::string m_lastReport;         // a store failure is told once while it lasts
    std::unique_ptr<Transport> m_transport;

    SendQueue m_queue;
    backlog::TBackSoob m_store;
    std::atomic<bool> m_storeOpen{false};
};

} // namespace msglink
