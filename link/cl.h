// link/cl.h: the message-server client: one thread that connects, logs in, sends what it is
// given, polls while idle, drains the backlog and reconnects.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "backlog/TBackSoob.h"
#include "link/LinkEvents.h"
#include "link/LinkTransport.h"
#include "link/LinkView.h"
#include "link/SendQueue.h"
#include "platform/IniFile.h"
#include "platform/Thread.h"
#include "platform/TickClock.h"

namespace msglink {

// Waits and limits of the link. The program runs with the defaults; tests hand in a clock they
// advance and shorter real waits.
struct ClientOptions
{
    const platform::TickClock* clock = &platform::steadyClock();
    std::chrono::milliseconds calibration{1000};
    std::int64_t ticksPerMs = 0;  // 0: calibrate when the thread starts
    std::string workingDirectory; // empty: the process's current directory
    double reconnectWaitMs = 5000.0;
    double silenceLimitMs = 10000.0;
    double pollIntervalMs = 500.0;
    double backlogPacingMs = 20.0;
    double confirmWaitMs = 10000.0;            // a backlog message sent this long ago without a
                                               // confirmation is sent again
    std::uint64_t confirmRewindTicks = 100000; // a confirmation lets the next backlog message
                                               // follow this many ticks sooner
    int maxErrors = 20;
    int idlePauseMs = 10;
    int replyWaitMs = kReplyWaitMs;
    int connectTimeoutMs = kConnectTimeoutMs;
    // Told, on the client thread, why the link could not be had: the address, the port and the
    // system's reason. Empty: not told.
    std::function<void(const std::string&)> diagnostic;
};

class cl
{
public:
    // Opens the backlog store in <working directory>/dd8 at once, so nothing handed to SendText
    // is lost, then starts the thread. view must outlive the client; gatewayNumber is the
    // FirstNumber setting, whose low byte goes to the server at every login.
    cl(LinkView& view, std::int32_t gatewayNumber, ClientOptions options = {});
    ~cl(); // stops the thread if it still runs

    cl(const cl&) = delete;
    cl& operator=(const cl&) = delete;

    // Window's thread. One position message: queued live when the link is up, authorised and
    // not busy with a backlog message, kept in the backlog otherwise (also when the queue is
    // full). Errors are swallowed: the message is then lost.
    void SendText(const std::string& text);

    // Window's thread: `link enabled` cleared first, then `stop request` set. The thread ends
    // after its current turn; what is still queued goes to the backlog.
    void requestStop();
    bool finished() const { return m_finished.load(); }

    // Window's thread. While clear, no connection attempt is made (the close clears it).
    void setLinkEnabled(bool enabled) { m_linkEnabled = enabled; }
    void join();

    // Any thread, without a lock.
    bool connected() const { return m_connected.load(); }
    bool authorised() const { return m_authorised.load(); }
    bool inFlight() const { return m_inFlight.load() != InFlight::None; }
    std::int32_t errorCount() const { return m_errors.load(); }
    std::int32_t backlogCount() const { return m_store ? m_store->Count() : 0; }
    // Any thread. Turns of the loop so far; a count that stops moving means a stuck thread.
    std::uint64_t turns() const { return m_turns.load(std::memory_order_relaxed); }

private:
    // The backlog message awaiting confirmation: queued, or sent (only then can a confirmation
    // be its own).
    enum class InFlight
    {
        None,
        Queued,
        Sent
    };

    void execute();
    void threadStart();
    void threadEnd();
    void LinkPass();
    void exchange();
    void connectionAttempt();
    void backlogStep();
    void handleReply(const Bytes& payload);
    void dropLink();
    void lostExchange(const QueuedFrame& frame);
    std::string nextServerAddress(const platform::IniFile& ini);
    bool storeReady();

    std::uint64_t now() const { return m_options.clock->read(); }
    double msSince(std::uint64_t earlier) const;

    LinkView& m_view;
    const std::int32_t m_gatewayNumber;
    ClientOptions m_options;
    std::string m_workingDirectory;
    std::string m_settingsPath;

    std::atomic<bool> m_stopRequest{false};
    std::atomic<bool> m_linkEnabled{true};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_authorised{false};
    std::atomic<InFlight> m_inFlight{InFlight::None};
    std::atomic<bool> m_finished{false};
    std::atomic<std::int32_t> m_errors{0};
    std::atomic<std::uint64_t> m_turns{0};

    // Client thread only.
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
    std::string m_serverAddress;
    std::uint16_t m_serverPort = 0;

    SendQueue m_queue;
    std::unique_ptr<backlog::TBackSoob> m_store;
    std::atomic<bool> m_storeOpen{false};
    std::unique_ptr<LinkTransport> m_transport;
    platform::Thread m_thread;
};

} // namespace msglink
