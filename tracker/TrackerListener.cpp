// tracker/TrackerListener.cpp
#include "tracker/TrackerListener.h"

#include <algorithm>
#include <chrono>

#include "tracker/ConnectionWorker.h"

namespace tracker {

namespace {

PoolOptions poolOptions(const ListenerOptions& o)
{
    PoolOptions p;
    p.stackBytes = o.workerStackBytes;
    p.keptIdleWorkers = o.keptIdleWorkers;
    p.idleLimit = std::chrono::milliseconds(std::max(o.idleWorkerMs, 1)); // 0 would spin
    return p;
}

} // namespace

TrackerListener::TrackerListener(platform::DayLog& dayLog, ListenerOptions options)
    : m_dayLog(dayLog), m_options(options),
      m_pool(poolOptions(m_options),
             [this](WorkerPool::Slot& slot, Connection first) { runWorker(slot, first); })
{
}

TrackerListener::~TrackerListener()
{
    stop();
}

bool TrackerListener::start()
{
    m_listening = false;
    m_stop = false;
    {
        std::lock_guard<std::mutex> lock(m_openMutex);
        m_openDone = false;
    }
    return m_thread.start([this] { execute(); });
}

bool TrackerListener::waitOpenAttempt(std::chrono::milliseconds limit) const
{
    std::unique_lock<std::mutex> lock(m_openMutex);
    m_openTried.wait_for(lock, limit, [this] { return m_openDone; });
    return m_listening;
}

std::string TrackerListener::openFailure() const
{
    std::lock_guard<std::mutex> lock(m_openMutex);
    return m_openFailure;
}

bool TrackerListener::openListeningSocket()
{
    auto fail = [this](const char* step) {
        std::string reason = std::string(step) + ": " + platform::lastSocketError();
        if (m_socket != platform::kInvalidSocket)
            platform::closeSocket(m_socket);
        m_socket = platform::kInvalidSocket;
        std::lock_guard<std::mutex> lock(m_openMutex);
        m_openFailure = std::move(reason);
        return false;
    };
    m_socket = platform::createTcpSocket();
    if (m_socket == platform::kInvalidSocket)
        return fail("socket");
    if (!platform::bindAny(m_socket, m_port))
        return fail("bind");
    if (!platform::listenMax(m_socket))
        return fail("listen");
    m_boundPort = platform::localPort(m_socket);
    return true;
}

void TrackerListener::execute()
{
    // No retry: a port that cannot be opened stays closed for the life of the process.
    const bool open = openListeningSocket();
    m_listening = open;
    {
        std::lock_guard<std::mutex> lock(m_openMutex);
        m_openDone = true;
    }
    m_openTried.notify_all();
    if (!open)
        return;
    while (!m_stop) {
        m_pool.reap(); // the threads of workers that were idle too long
        platform::SocketHandle c =
            platform::acceptOrPause(m_socket, m_options.acceptWaitMs, m_options.acceptRetryMs);
        if (c == platform::kInvalidSocket)
            continue;
        try {
            handOver(c);
        } catch (...) {
            platform::closeSocket(c); // no worker took it, nothing was read from it
        }
    }
    platform::closeSocket(m_socket);
    m_socket = platform::kInvalidSocket;
}

void TrackerListener::handOver(platform::SocketHandle socket)
{
    const Connection connection{socket, m_nextConnection++};
    // Only this thread adds connections, so the count cannot grow between check and hand-over.
    if (m_pool.serving() >= m_options.maxConnections) {
        if (!m_pool.evictUnidentified()) {
            m_counts.refusedAtCeiling.add();
            platform::closeSocket(socket);
            return;
        }
        m_counts.evicted.add();
    }
    // When the system gives no more threads, this connection is refused and accepting goes on.
    if (!m_pool.handOver(connection))
        platform::closeSocket(socket);
}

void TrackerListener::runWorker(WorkerPool::Slot& slot, Connection first)
{
    ConnectionWorker worker({m_pool, m_queue, m_counts, m_dayLog, m_options}, slot);
    worker.execute(first);
}

void TrackerListener::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    // The pool no longer grows: end every kept wait and every connection being served.
    m_queue.releaseWaiters();
    m_pool.stop();
}

} // namespace tracker
