// link/LinkClient.h: the message-server client: one thread that runs the link's state machine
// (LinkMachine) turn after turn until it is asked to stop.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <functional>
#include <string>

#include "link/LinkMachine.h"
#include "link/LinkView.h"
#include "platform/Thread.h"
#include "platform/TickClock.h"

namespace msglink {

// Waits and limits of the link. The program runs with the defaults; tests hand in a clock they
// advance and shorter real waits.
struct ClientOptions
{
    // Calibrated already (start-up does it once).
    const platform::TickClock* clock = &platform::steadyClock();
    std::string workingDirectory; // empty: the process's current directory
    LinkTimings timings;
    int idlePauseMs = 10;
    int replyWaitMs = kReplyWaitMs;
    int connectTimeoutMs = kConnectTimeoutMs;
    // Told why the link could not be had (the address, the port and the system's reason), on the
    // client thread, and when the backlog fails, on the thread that met the failure (the
    // window's too): it must be safe to call from both. Empty: not told.
    std::function<void(const std::string&)> diagnostic;
    // The files the backlog is kept in; tests hand in a file layer that fails on demand.
    platform::FileSystem* files = &platform::osFileSystem();
};

class LinkClient
{
public:
    // Opens the backlog store in <working directory>/dd8 at once, so nothing handed to storeMessage
    // is lost, then starts the thread. view must outlive the client; gatewayNumber is the
    // FirstNumber setting, whose low byte goes to the server at every login.
    LinkClient(LinkView& view, std::int32_t gatewayNumber, ClientOptions options = {});
    ~LinkClient(); // stops the thread if it still runs

    LinkClient(const LinkClient&) = delete;
    LinkClient& operator=(const LinkClient&) = delete;

    // Window's thread. One position message; see LinkMachine::storeMessage.
    bool storeMessage(const std::string& text) { return m_machine.storeMessage(text); }

    // Window's thread, often: see LinkMachine::sync.
    void sync() { m_machine.sync(); }

    // Any thread. Empty while the backlog is open and writable; otherwise why not.
    std::string storeProblem() const { return m_machine.storeProblem(); }

    // Any thread. Waits, at most limit, until the thread has tried to open the backlog (its
    // first step); false when it has not got that far.
    bool waitStoreAttempt(std::chrono::milliseconds limit) const;
    const LinkFigures& figures() const { return m_machine.figures(); }
    double oldestWaitingSeconds() const { return m_machine.oldestWaitingSeconds(); }

    // Window's thread: `link enabled` cleared first, then `stop request` set. The thread ends
    // after its current turn; what the server has not taken stays in the backlog.
    void requestStop();
    bool finished() const { return m_finished.load(); }

    void join();

    // Any thread, without a lock.
    bool connected() const { return m_machine.connected(); }
    bool authorised() const { return m_machine.authorised(); }
    std::int64_t backlogCount() const { return m_machine.backlogCount(); }
    // Any thread. Turns of the loop so far; a count that stops moving means a stuck thread.
    std::uint64_t turns() const { return m_turns.load(std::memory_order_relaxed); }

private:
    void execute();

    LinkView& m_view;
    ClientOptions m_options;
    std::string m_workingDirectory;
    LinkMachine m_machine;
    std::atomic<bool> m_stopRequest{false};
    std::atomic<bool> m_finished{false};
    std::atomic<std::uint64_t> m_turns{0};
    mutable std::mutex m_startMutex;
    mutable std::condition_variable m_storeTriedChanged;
    bool m_storeTried = false; // guarded by m_startMutex
    platform::Thread m_thread;
};

} // namespace msglink
