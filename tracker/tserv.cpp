// tracker/tserv.cpp
#include "tracker/tserv.h"

#include <chrono>
#include <thread>

#include "tracker/TpoolTH.h"

namespace tracker {

tserv::tserv(platform::DayLog& dayLog, ListenerOptions options)
    : m_dayLog(dayLog), m_options(options)
{
}

tserv::~tserv()
{
    stop();
}

bool tserv::start()
{
    m_listening = false;
    m_stop = false;
    {
        std::lock_guard<std::mutex> lock(m_openMutex);
        m_openDone = false;
    }
    return m_thread.start([this] { execute(); });
}

bool tserv::waitOpenAttempt(std::chrono::milliseconds limit) const
{
    std::unique_lock<std::mutex> lock(m_openMutex);
    m_openTried.wait_for(lock, limit, [this] { return m_openDone; });
    return m_listening;
}

std::string tserv::openFailure() const
{
    std::lock_guard<std::mutex> lock(m_openMutex);
    return m_openFailure;
}

bool tserv::openListeningSocket()
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

void tserv::execute()
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
        bool timedOut = false;
        platform::SocketHandle c =
            platform::acceptConnection(m_socket, m_options.acceptWaitMs, &timedOut);
        if (c == platform::kInvalidSocket) {
            // Out of descriptors or memory: the connection waits in the backlog; pausing keeps
            // the loop from spinning on it.
            if (!timedOut)
                std::this_thread::sleep_for(std::chrono::milliseconds(m_options.acceptRetryMs));
            continue;
        }
        try {
            handOver(c);
        } catch (...) {
            platform::closeSocket(c); // no worker took it
        }
    }
    platform::closeSocket(m_socket);
    m_socket = platform::kInvalidSocket;
}

void tserv::handOver(platform::SocketHandle connection)
{
    std::uint32_t number = m_nextConnection++;
    std::unique_lock<std::mutex> lock(m_poolMutex);
    if (m_serving >= m_options.maxConnections) {
        lock.unlock();
        platform::closeSocket(connection);
        return;
    }
    if (!m_idle.empty()) {
        // The idle worker first in pool order; taking it out of the idle set and giving it the
        // connection happen under one lock, so no other hand-over can reach it.
        TpoolTH& w = *m_pool[*m_idle.begin()];
        m_idle.erase(m_idle.begin());
        w.m_socket = connection;
        w.m_connection = number;
        w.m_ticksPerMs = m_ticksPerMs;
        w.m_state = TpoolTH::State::Serving;
        ++m_serving;
        w.m_wake.notify_one();
        return;
    }
    m_pool.push_back(std::make_unique<TpoolTH>(*this, m_pool.size()));
    TpoolTH* w = m_pool.back().get();
    w->m_socket = connection;
    w->m_connection = number;
    w->m_ticksPerMs = m_ticksPerMs;
    ++m_serving;
    lock.unlock();
    if (!w->m_thread.start([w] { w->execute(); }, m_options.workerStackBytes)) {
        // The system gives no more threads: refuse this connection and keep accepting.
        lock.lock();
        --m_serving;
        m_pool.pop_back();
        lock.unlock();
        platform::closeSocket(connection);
    }
}

bool tserv::waitIdle(TpoolTH& worker)
{
    std::unique_lock<std::mutex> lock(m_poolMutex);
    --m_serving;
    if (worker.m_stopping) {
        worker.m_state = TpoolTH::State::Ended;
        return false;
    }
    worker.m_state = TpoolTH::State::Idle;
    m_idle.insert(worker.m_index);
    worker.m_wake.wait(lock,
                       [&] { return worker.m_state != TpoolTH::State::Idle || worker.m_stopping; });
    if (worker.m_state == TpoolTH::State::Serving)
        return true; // a connection handed over just before the stop is still served and closed
    m_idle.erase(worker.m_index);
    worker.m_state = TpoolTH::State::Ended;
    return false;
}

void tserv::workerEnded(TpoolTH& worker)
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    if (worker.m_state == TpoolTH::State::Serving)
        --m_serving;
    worker.m_state = TpoolTH::State::Ended;
}

void tserv::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    // The pool no longer grows: wake every worker, ending the connections being served.
    {
        std::lock_guard<std::mutex> lock(m_poolMutex);
        for (auto& w : m_pool) {
            w->m_stopping = true;
            w->m_stopFlag = true;
            platform::shutdownBoth(w->m_socket);
            w->m_wake.notify_one();
        }
    }
    for (auto& w : m_pool)
        if (w->m_thread.joinable())
            w->m_thread.join();
}

std::size_t tserv::poolSize() const
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    return m_pool.size();
}

std::size_t tserv::servingCount() const
{
    std::lock_guard<std::mutex> lock(m_poolMutex);
    return m_serving;
}

} // namespace tracker
