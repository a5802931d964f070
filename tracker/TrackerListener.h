// tracker/TrackerListener.h: the tracker listener; accepts connections and hands each to a worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/DayLog.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "tracker/HandoverQueue.h"
#include "tracker/IntakeCounts.h"
#include "tracker/ListenerOptions.h"
#include "tracker/WorkerPool.h"

namespace tracker {

class TrackerListener
{
public:
    // The day log must outlive the listener.
    explicit TrackerListener(platform::DayLog& dayLog, ListenerOptions options = {});
    ~TrackerListener(); // stops, if still running

    TrackerListener(const TrackerListener&) = delete;
    TrackerListener& operator=(const TrackerListener&) = delete;

    // Before start only.
    void setPort(std::uint16_t port) { m_port = port; }

    // Starts the listener thread; it opens the port and then accepts until stopped.
    // False only when no thread could be started.
    bool start();

    // Closes the port, ends every kept wait and every connection (each with its notice and
    // Disconnect line) and joins all threads. Any thread but the listener's and the workers'.
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
    // Any thread.
    const IntakeCounts& counts() const { return m_counts; }
    platform::DayLog& dayLog() { return m_dayLog; }
    const ListenerOptions& options() const { return m_options; }

    // Any thread. Workers alive (serving or idle), and how many serve a connection now.
    std::size_t poolSize() const { return m_pool.size(); }
    std::size_t servingCount() const { return m_pool.serving(); }

private:
    void execute();
    bool openListeningSocket();
    void handOver(platform::SocketHandle socket);
    void runWorker(WorkerPool::Slot& slot, Connection first);

    platform::DayLog& m_dayLog;
    const ListenerOptions m_options;
    std::uint16_t m_port = 21000;

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
    IntakeCounts m_counts;
    WorkerPool m_pool; // last: its workers use the members above
};

} // namespace tracker
