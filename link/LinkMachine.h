// link/LinkMachine.h: the message-server client's state machine: connection attempts, the
// exchanges, the delivery of what waits in the backlog. One turn at a time on whatever thread
// runs it, so it can be stepped turn by turn with a clock and a transport in hand.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "backlog/BacklogStore.h"
#include "link/LinkView.h"
#include "link/SendQueue.h"
#include "link/Transport.h"
#include "platform/IniFile.h"
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
    // How often the backlog is made to last on the disk (group commit).
    double syncIntervalMs = 50.0;
    // How long a backlog that cannot be opened waits before the next try.
    double reopenWaitMs = 1000.0;
    int maxErrors = 20;
};

// What the client has done so far; any thread reads them.
struct LinkFigures
{
    platform::Counter deliveredLive;       // answered by the server, sent as they came
    platform::Counter deliveredBacklog;    // confirmed by the server, sent from the backlog
    platform::Counter attempts;            // connection attempts
    platform::Histogram storedToDelivered; // seconds from storing a message to its delivery
};

// Every position message goes into the backlog store first (storeMessage) and is sent from there,
// oldest first, one data message at a time, each as soon as the previous one is done. So the
// order of the messages is the order they were handed over, whatever the link does, and the
// link runs at the server's pace. A message handed over while the link was up, logged in and
// nothing older waited is done with any reply from the server, like a message sent live; any
// other needs a delivery confirmation and goes again when none has come within the confirmation
// wait. A message leaves the store only once it is done; a lost link sends it again after the
// next login, so it may arrive twice but is never lost.
class LinkMachine
{
public:
    using Diagnostic = std::function<void(const std::string&)>;

    // The backlog store is in <workingDirectory>/dd8; openStore opens it. The view and the clock
    // must outlive the machine. gatewayNumber is the FirstNumber setting.
    LinkMachine(LinkView& view, const platform::TickClock& clock, std::int32_t gatewayNumber,
                std::string workingDirectory, LinkTimings timings = {}, Diagnostic diagnostic = {},
                platform::FileSystem& files = platform::osFileSystem());

    LinkMachine(const LinkMachine&) = delete;
    LinkMachine& operator=(const LinkMachine&) = delete;

    // Window's thread. One position message, stored in the backlog (written to its file) before
    // this returns true. False when it could not be stored (the store is not open, or the write
    // failed): the caller keeps it and tries again later; a failure is told once (event list
    // and diagnostics), and so is the recovery.
    bool storeMessage(const std::string& text);

    // Window's thread, often (the dispatcher's timer): makes the backlog last on the disk at
    // most every syncIntervalMs.
    void sync();

    // Any thread. Empty while the backlog is open and writable; otherwise why not.
    std::string storeProblem() const;

    // Runner's thread: opens the backlog store unless it is open, at once the first time and
    // then at most once per reopenWaitMs. A failure is told once (event list and diagnostics),
    // and so is the recovery; storeProblem says why meanwhile.
    void openStore();

    // Runner's thread, once, before the first turn.
    void start(std::unique_ptr<Transport> transport);

    // Runner's thread: one turn of the loop: the store opened if it is not, then step.
    void turn();
    void step();

    // Runner's thread, once, after the last turn: the link counts as down and is closed without
    // a frame; the backlog is synced.
    void end();

    // Any thread. While clear, no connection attempt is made (the close clears it).
    void setLinkEnabled(bool enabled) { m_linkEnabled = enabled; }

    // Any thread, without a lock.
    bool connected() const { return m_connected.load(); }
    bool authorised() const { return m_authorised.load(); }
    // A backlog message has been sent and awaits its confirmation.
    bool inFlight() const { return m_awaiting.load(); }
    std::int32_t errorCount() const { return m_errors.load(); }
    std::int64_t backlogCount() const { return m_store.pendingCount(); }
    const LinkFigures& figures() const { return m_figures; }
    // Any thread. How long the oldest message in the backlog has waited, in seconds: since it
    // was stored, or since the start for one stored by an earlier run; 0 when none waits.
    double oldestWaitingSeconds() const;
    // There is something to send now: the runner starts the next turn without its pause.
    bool framesWaiting() const;

private:
    enum class Sent
    {
        Nothing,
        Control, // a queued frame or a poll
        Data     // the oldest message of the backlog
    };

    void exchange();
    void connectionAttempt();
    Sent sendNext();
    bool sendData();
    void handleReply(const Bytes& payload, Sent sent);
    // The oldest message is done: delivered (taken from the backlog; confirmed or sent as it
    // came) or, not delivered, a damaged record that was taken away.
    void messageDone(bool delivered, bool confirmed);
    void dropLink();
    bool dataMayGo() const;
    bool isLive(std::int64_t appendIndex) const;
    void report(const std::string& text);
    void tell(const std::string& told);
    // Under m_mutex: records the store's last status; gives the event to tell, if any.
    std::string noteStoreStatus(const backlog::StoreStatus& status);
    std::string nextServerAddress(const platform::IniFile& settings);

    std::uint64_t now() const { return m_clock.read(); }
    double msSince(std::uint64_t earlier) const { return m_clock.msSince(earlier); }

    LinkView& m_view;
    const platform::TickClock& m_clock;
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
    bool m_attempted = false; // the first attempt goes at once
    std::uint8_t m_addressSlot = 0;
    bool m_accessNoticeShown = false;
    std::string m_lastConnectFailure; // told once until the link comes up or the reason changes
    std::unique_ptr<Transport> m_transport;
    SendQueue m_queue;
    // The oldest message while it is out: when it went, how often on this connection, and
    // whether any reply will do.
    std::uint64_t m_dataSentAt = 0;
    int m_copies = 0;
    bool m_dataLive = false;
    std::int64_t m_dataIndex = -1;
    // Confirmations that may still come for the other copies of a message that went more than
    // once on this connection. They must not count for the next message, so that one waits
    // until they came or the reply wait has passed.
    int m_staleOwed = 0;
    std::uint64_t m_staleSince = 0;

    // Shared by the window's thread (storing) and the runner (delivering), under m_mutex.
    mutable std::mutex m_mutex;
    std::int64_t m_liveFrom = -1;       // this run's appends from here on are live; -1: none
    std::int64_t m_appended = 0;        // this run's appends so far
    std::deque<std::uint64_t> m_stamps; // when each of this run's appends not yet done came
    std::int64_t m_stampBase = 0;       // append index of m_stamps.front()
    std::string m_storeProblem;         // empty while the store works
    bool m_openTried = false;
    std::uint64_t m_lastReopen = 0;
    std::uint64_t m_lastSync = 0;
    const std::uint64_t m_createdAt;

    backlog::BacklogStore m_store;
};

} // namespace msglink
