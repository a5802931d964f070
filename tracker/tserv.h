// tracker/tserv.h: the tracker listener; accepts connections and hands each to a worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/DayLog.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "platform/TickClock.h"
#include "tracker/HandoverQueue.h"

namespace tracker {

class TpoolTH;

// Limits and waits of the intake. The program uses the defaults; tests shorten the waits and
// hand in a clock they advance, so minutes pass without waiting for them.
struct ListenerOptions
{
    const platform::TickClock* clock = &platform::steadyClock();
    int receiveWaitMs = 5000;            // readiness wait of one timed receive
    double inactivityLimitMs = 180000.0; // longer without a good packet ends a connection
    std::size_t maxConnections = 10000;  // connections above this are closed at once
    std::size_t workerStackBytes = 256 * 1024;
    int acceptWaitMs = 250;  // how often the accept loop looks at its stop flag
    int acceptRetryMs = 100; // pause after a failed accept, e.g. when out of descriptors
};

class tserv
{
public:
    // The day log must outlive the listener.
    explicit tserv(platform::DayLog& dayLog, ListenerOptions options = {});
    ~tserv(); // stops, if still running

    tserv(const tserv&) = delete;
    tserv& operator=(const tserv&) = delete;

    // Before start only.
    void setPort(std::uint16_t port) { m_port = port; }
    void setTicksPerMs(std::int64_t ticksPerMs) { m_ticksPerMs = ticksPerMs; }

    // Starts the listener thread; it opens the port and then accepts until stopped.
    // False only when no thread could be started.
    bool start();

    // Closes the port, ends every connection (each with its notice and Disconnect line) and
    // joins all threads. Any thread but the listener's and the workers'.
    void stop();

    // Any thread. False until the port is open and listening, then true for good.
    bool listening() const { return m_listening.load(); }

    // Any thread. Waits until the listener thread has tried to open the port, at most limit,
    // and tells whether it is listening.
    bool waitOpenAttempt(std::chrono::milliseconds limit) const;

    // Any thread, once waitOpenAttempt has seen the attempt: why the port could not be opened
    // ("bind: Address already in use"); empty while listening.
    std::string openFailure() const;

    // Any thread. The port actually bound (differs from the set one when that was 0).
    std::uint16_t boundPort() const { return m_boundPort.load(); }

    HandoverQueue& queue() { return m_queue; }
    platform::DayLog& dayLog() { return m_dayLog; }
    const ListenerOptions& options() const { return m_options; }

    // Any thread. Workers ever created, and how many serve a connection now.
    std::size_t poolSize() const;
    std::size_t servingCount() const;

private:
    friend class TpoolTH;

    void execute();
    bool openListeningSocket();
    void handOver(platform::SocketHandle connection);

    // Worker thread: marks the worker idle and waits for the next hand-over.
    // False when the listener is stopping and no connection came.
    bool waitIdle(TpoolTH& worker);
    // Worker thread: the worker's thread is about to end for good.
    void workerEnded(TpoolTH& worker);

    platform::DayLog& m_dayLog;
    const ListenerOptions m_options;
    std::uint16_t m_port = 21000;
    std::int64_t m_ticksPerMs = 1;

    std::atomic<bool> m_listening{false};
    mutable std::mutex m_openMutex;
    mutable std::condition_variable m_openTried;
    bool m_openDone = false;   // guarded by m_openMutex
    std::string m_openFailure; // guarded by m_openMutex
    std::atomic<std::uint16_t> m_boundPort{0};
    std::atomic<bool> m_stop{false};
    platform::SocketHandle m_socket = platform::kInvalidSocket; // listener thread only
    std::uint32_t m_nextConnection = 1;                         // listener thread only
    platform::Thread m_thread;

    HandoverQueue m_queue;

    // The pool. Grown by the listener thread only; worker hand-over state is guarded here.
    mutable std::mutex m_poolMutex;
    std::vector<std::unique_ptr<TpoolTH>> m_pool;
    std::set<std::size_t> m_idle; // indexes of idle workers; the lowest is taken first
    std::size_t m_serving = 0;
};

} // namespace tracker
