// link/LinkMachine.h: the message-server client's state machine: connection attempts, the
// exchanges, the delivery of what waits in the outbox. One turn at a time on whatever thread
// runs it, so it can be stepped turn by turn with a clock and a transport in hand.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "link/Frames.h"
#include "link/LinkView.h"
#include "link/Outbox.h"
#include "link/ServerSettings.h"
#include "link/SendQueue.h"
#include "link/Transport.h"
#include "platform/Stats.h"
#include "platform/TickClock.h"

namespace msglink {

// The link's timings and limits; the program runs with the defaults.
struct LinkTimings
{
    double reconnectWaitMs = 5000.0;
    double silenceLimitMs = 10000.0;
    double pollIntervalMs = 500.0;
    // A backlog message sent this long ago without a confirmation is sent again.
    double confirmWaitMs = 10000.0;
    // After a message that went more than once is confirmed, how long the next one waits for
    // the confirmations of the other copies.
    double staleConfirmationWaitMs = 5000.0;
    // Valid replies move the activity picture at most this often. Each step wakes the window's
    // thread, and nobody sees fifty steps a second, let alone one per message.
    double indicatorStepMs = 20.0;
    int maxErrors = 20;
};

// Why the link went down, or could not be had.
enum class DropReason
{
    ConnectFailed,     // a connection attempt failed
    NoLogin,           // no login accepted within the silence limit
    NotAFrame,         // a reply that is not a frame (its envelope is broken)
    Silence,           // no reply within the reply wait, or no valid one within the silence limit
    MarkerMismatch,    // replies, but only with wrong header markers, for the silence limit
    ErrorLimit,        // more failed exchanges than the limit since the count was last reset
    ServerClosed,      // the server ended the connection
    NetworkError,      // a send, the wait for the reply or its read failed
    CloseOrder,        // the server's close order
    DisconnectCommand, // the server's disconnect command
};
inline constexpr std::size_t kDropReasons =
    static_cast<std::size_t>(DropReason::DisconnectCommand) + 1;

// The reason as a metric label: "connect_failed", "no_login", "not_a_frame", "silence",
// "marker_mismatch", "error_limit", "server_closed", "network_error", "close_order",
// "disconnect_command".
const char* dropReasonName(DropReason reason);

// What the client has done so far; any thread reads them.
struct LinkFigures
{
    platform::Counter attempts;                        // connection attempts
    std::array<platform::Counter, kDropReasons> drops; // by DropReason
    platform::Counter resends; // data messages sent again: after a lost link, or when no
                               // confirmation or no valid reply came for the last copy
};

// The link's side of delivery: the outbox hands it the oldest message, one at a time, each as
// soon as the previous one is done, so the link runs at the server's pace. A live message is done
// with any valid reply; any other needs a delivery confirmation and goes again when none has come
// within the confirmation wait. A lost link sends the message again after the next login.
class LinkMachine
{
public:
    using Diagnostic = std::function<void(const std::string&)>;

    // The server keys are read from <workingDirectory>/gpsbridge.ini before every attempt. The
    // view, the clock and the outbox must outlive the machine. gatewayNumber is the FirstNumber
    // setting. diagnostic is told, on the runner's thread, why an attempt failed (once while the
    // reason stays) and why the link went down (every time, with the reason's label:
    // "link to 10.0.0.5 port 12543 dropped (no_login): no login accepted within 10 s").
    LinkMachine(LinkView& view, const platform::TickClock& clock, Outbox& outbox,
                std::int32_t gatewayNumber, std::string workingDirectory, LinkTimings timings = {},
                Diagnostic diagnostic = {});

    LinkMachine(const LinkMachine&) = delete;
    LinkMachine& operator=(const LinkMachine&) = delete;

    // Runner's thread, once, before the first turn.
    void start(std::unique_ptr<Transport> transport);

    // Runner's thread: one turn of the loop: the outbox's store opened if it is not, then step.
    void turn();
    void step();

    // Runner's thread, once, after the last turn: the link counts as down and is closed without
    // a frame; what was stored is made to last.
    void end();

    // Any thread. While clear, no connection attempt is made (the close clears it).
    void setLinkEnabled(bool enabled) { m_linkEnabled = enabled; }

    // Any thread, without a lock.
    bool connected() const { return m_connected.load(); }
    bool authorised() const { return m_authorised.load(); }
    // A backlog message has been sent and awaits its confirmation.
    bool inFlight() const { return m_awaiting.load(); }
    std::int32_t errorCount() const { return m_errors.load(); }
    const LinkFigures& figures() const { return m_figures; }
    // Runner's thread. There is something to send now: the runner starts the next turn without
    // its pause.
    bool framesWaiting() const;

private:
    enum class Sent
    {
        Nothing,
        Control, // a queued frame or a poll
        Data     // the oldest message of the outbox
    };

    void exchange();
    void connectionAttempt();
    Sent sendNext();
    bool sendData();
    void handleReply(const Bytes& payload, Sent sent);
    void handleCode(ReplyKind kind);
    // The message that went is delivered: confirmed, or sent as it came and answered.
    void messageDone(bool confirmed);
    void setAuthorised(bool authorised);
    // The link goes down for that reason: counted, and told with what.
    void drop(DropReason reason, const std::string& what);
    void dropLink();
    // Why the silence check drops the link now; nothing while it may stay.
    std::optional<DropReason> silenceCheck() const;
    std::string silenceText(DropReason reason) const;
    void sendFrame(const Bytes& frame); // counts a failed send
    void connectFailed();               // counted, and told once while its reason stays
    // Moves the activity picture; a valid reply's step waits for the indicator step time.
    void advanceIndicator(bool validReply);
    bool dataMayGo() const;
    std::string nextServerAddress(const ServerSettings& settings);

    std::uint64_t now() const { return m_clock.read(); }
    double msSince(std::uint64_t earlier) const { return m_clock.msSince(earlier); }

    LinkView& m_view;
    const platform::TickClock& m_clock;
    Outbox& m_outbox;
    const std::int32_t m_gatewayNumber;
    const std::string m_settingsPath;
    const LinkTimings m_timings;
    const Diagnostic m_diagnostic;

    std::atomic<bool> m_linkEnabled{true};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_authorised{false};
    std::atomic<bool> m_awaiting{false};
    std::atomic<std::int32_t> m_errors{0};
    LinkFigures m_figures;

    // Runner's thread only.
    std::uint64_t m_lastValidReply = 0;
    std::uint64_t m_lastPoll = 0;
    std::uint64_t m_lastConnectAttempt = 0;
    std::uint64_t m_lastIndicatorStep = 0;
    bool m_indicatorStepped = false;
    bool m_attempted = false; // the first attempt goes at once
    std::uint8_t m_addressSlot = 0;
    bool m_accessNoticeShown = false;
    std::string m_lastConnectFailure; // told once until the link comes up or the reason changes
    std::string m_server;             // "10.0.0.5 port 12543": of the current or last attempt
    bool m_sendFailed = false;        // in this exchange
    bool m_wrongMarkers = false;      // a reply since the last valid one had wrong markers
    std::unique_ptr<Transport> m_transport;
    SendQueue m_queue;
    // The oldest message while it is out: when it went, how often on this connection, and
    // whether any reply will do.
    std::uint64_t m_dataSentAt = 0;
    int m_copies = 0;
    bool m_dataLive = false;
    // The oldest message has gone at least once, on any connection, and is not done yet.
    bool m_dataUndone = false;
    // Confirmations that may still come for the other copies of a message that went more than
    // once on this connection. They must not count for the next message, so that one waits
    // until they came or the reply wait has passed.
    int m_staleOwed = 0;
    std::uint64_t m_staleSince = 0;
};

} // namespace msglink
