// tracker/WorkerPool.cpp
#include "tracker/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <limits>

#include "platform/Thread.h"

namespace tracker {

class WorkerPool::Slot
{
public:
    enum class State
    {
        Serving,
        Idle,
        Ended
    };

    Slot(std::uint64_t createdAs, Connection first) : order(createdAs), connection(first) {}

    const std::uint64_t order; // creation order

    // Guarded by the pool's lock.
    State state = State::Serving;
    Connection connection; // socket invalid once released by the worker
    bool counted = true;   // counts as a connection served; cleared by eviction
    bool finished = false; // the thread is returning: it may be joined
    std::condition_variable wake;

    // The worker writes these without the lock; eviction reads them under it.
    std::atomic<bool> endRequested{false};
    std::atomic<std::uint64_t> lastActivity{kFresh};
    std::atomic<bool> identified{false};

    platform::Thread thread;

    // A connection whose worker has not noted its accept yet is the newest of all.
    static constexpr std::uint64_t kFresh = std::numeric_limits<std::uint64_t>::max();
};

WorkerPool::WorkerPool(PoolOptions options, WorkerBody body)
    : m_options(options), m_body(std::move(body))
{
}

WorkerPool::~WorkerPool()
{
    stop();
}

bool WorkerPool::handOver(Connection connection)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_serving;
    if (!m_idle.empty()) {
        Slot& slot = *m_idle.begin()->second;
        m_idle.erase(m_idle.begin());
        slot.state = Slot::State::Serving;
        slot.connection = connection;
        slot.counted = true;
        slot.endRequested = false;
        slot.lastActivity = Slot::kFresh;
        slot.identified = false;
        slot.wake.notify_one();
        return true;
    }
    m_slots.push_back(std::make_unique<Slot>(m_created++, connection));
    Slot* slot = m_slots.back().get();
    const bool started = slot->thread.start(
        [this, slot, connection] {
            m_body(*slot, connection);
            finished(*slot);
        },
        m_options.stackBytes);
    if (!started) {
        m_slots.pop_back();
        --m_serving;
    }
    return started;
}

bool WorkerPool::evictUnidentified()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Slot* victim = nullptr;
    for (auto& s : m_slots) {
        if (s->state != Slot::State::Serving || !s->counted || s->identified)
            continue;
        if (!victim || s->lastActivity < victim->lastActivity)
            victim = s.get();
    }
    if (!victim)
        return false;
    victim->counted = false;
    --m_serving;
    victim->endRequested = true;
    platform::shutdownBoth(victim->connection.socket); // wakes the worker's wait
    return true;
}

void WorkerPool::reap()
{
    std::vector<std::unique_ptr<Slot>> done;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ended == 0)
            return;
        auto firstDone = std::stable_partition(m_slots.begin(), m_slots.end(),
                                               [](const auto& s) { return !s->finished; });
        done.assign(std::make_move_iterator(firstDone), std::make_move_iterator(m_slots.end()));
        m_slots.erase(firstDone, m_slots.end());
        m_ended = 0;
    }
    for (auto& s : done)
        s->thread.join(); // returning already: this waits at most for its last steps
}

void WorkerPool::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        for (auto& s : m_slots) {
            s->endRequested = true;
            platform::shutdownBoth(s->connection.socket);
            s->wake.notify_one();
        }
    }
    // Nobody adds or removes slots now: the listener's thread has ended.
    for (auto& s : m_slots)
        s->thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slots.clear();
    m_idle.clear();
    m_serving = 0;
    m_ended = 0;
    m_stopping = false;
}

std::optional<Connection> WorkerPool::waitForNext(Slot& slot)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (slot.counted)
        --m_serving;
    slot.counted = false;
    slot.connection = {};
    if (!m_stopping) {
        slot.state = Slot::State::Idle;
        m_idle.emplace(slot.order, &slot);
        for (;;) {
            const bool woken = slot.wake.wait_for(lock, m_options.idleLimit, [&] {
                return slot.state != Slot::State::Idle || m_stopping;
            });
            // A connection handed over just before a stop is still served: the stop has shut
            // its socket down, so it ends at once, with its notice and Disconnect line.
            if (slot.state == Slot::State::Serving)
                return slot.connection;
            if (woken || m_idle.size() > m_options.keptIdleWorkers)
                break;
        }
        m_idle.erase(slot.order);
    }
    slot.state = Slot::State::Ended;
    return std::nullopt;
}

void WorkerPool::releaseSocket(Slot& slot)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    slot.connection.socket = platform::kInvalidSocket;
}

bool WorkerPool::endRequested(const Slot& slot) const
{
    return slot.endRequested.load(std::memory_order_relaxed);
}

void WorkerPool::noteActivity(Slot& slot, std::uint64_t tick, bool identified)
{
    slot.lastActivity.store(tick, std::memory_order_relaxed);
    slot.identified.store(identified, std::memory_order_relaxed);
}

std::size_t WorkerPool::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_slots.size() - m_ended;
}

std::size_t WorkerPool::serving() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_serving;
}

void WorkerPool::finished(Slot& slot)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (slot.state == Slot::State::Serving && slot.counted)
        --m_serving;
    if (slot.state == Slot::State::Idle)
        m_idle.erase(slot.order);
    slot.counted = false;
    slot.state = Slot::State::Ended;
    slot.finished = true;
    ++m_ended;
}

} // namespace tracker
