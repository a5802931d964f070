// tracker/WorkerPool.h: the connection workers' threads and what is handed over between the
// listener and them: each worker's slot (its connection, state and wake-up), all under the
// pool's one lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Socket.h"

namespace tracker {

// An accepted connection: its socket and its number, never reused within a run.
struct Connection
{
    platform::SocketHandle socket = platform::kInvalidSocket;
    std::uint32_t number = 0;
};

struct PoolOptions
{
    std::size_t stackBytes = 256 * 1024;
    std::size_t keptIdleWorkers = 16;           // idle workers that stay however long idle
    std::chrono::milliseconds idleLimit{60000}; // the others end after this long idle
};

class WorkerPool
{
public:
    class Slot; // one worker's; only the pool looks inside

    // Runs on each new worker thread: serves first and then whatever waitForNext hands over,
    // and returns once waitForNext answers nothing (or on an error it could not handle).
    using WorkerBody = std::function<void(Slot& slot, Connection first)>;

    WorkerPool(PoolOptions options, WorkerBody body);
    ~WorkerPool(); // stops

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Listener thread. Gives the connection to the idle worker first in creation order, or
    // starts a new worker with it. Taking a worker out of idleness and giving it the
    // connection is one step under the lock: an idle worker never gets two connections, and
    // none is given to a worker that then ends. False when no thread could be started; the
    // connection was not taken.
    bool handOver(Connection connection);

    // Listener thread, at the connection ceiling. Asks the connection idle longest that never
    // identified itself to end (it ends the usual way) and from now on does not count it as
    // served. False when every connection served has identified itself.
    bool evictUnidentified();

    // Listener thread. Joins the workers that have ended and releases their slots.
    void reap();

    // Ends every connection being served, each the usual way, and every worker, and joins them.
    // No hand-over may come any more (the listener's thread has ended). The pool is empty and
    // usable again afterwards.
    void stop();

    // Worker thread, own slot. The connection has ended and its socket is closed: waits idle
    // for the next one. Nothing when the pool stops, or when this worker has been idle for the
    // idle limit while more than the kept idle workers are idle; its body must then return.
    std::optional<Connection> waitForNext(Slot& slot);

    // Worker thread, own slot, before it closes its socket: from now on nobody shuts that
    // descriptor down, which the system may hand to a new connection once closed.
    void releaseSocket(Slot& slot);

    // Worker thread, own slot. The connection has been asked to end (eviction or stop).
    bool endRequested(const Slot& slot) const;

    // Worker thread, own slot. The tick of the latest good packet (or of the accept), and
    // whether the connection has identified itself; eviction picks by them.
    void noteActivity(Slot& slot, std::uint64_t tick, bool identified);

    // Any thread. Workers alive (serving or idle), and connections being served.
    std::size_t size() const;
    std::size_t serving() const;

private:
    void finished(Slot& slot); // the worker's thread is about to return

    const PoolOptions m_options;
    const WorkerBody m_body;

    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Slot>> m_slots; // guarded; grown by the listener thread only
    std::map<std::uint64_t, Slot*> m_idle;      // guarded; by creation order
    std::size_t m_serving = 0;                  // guarded
    std::size_t m_ended = 0;                    // guarded; ended, not yet reaped
    std::uint64_t m_created = 0;                // guarded
    bool m_stopping = false;                    // guarded
};

} // namespace tracker
