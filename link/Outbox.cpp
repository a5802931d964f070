// link/Outbox.cpp
#include "link/Outbox.h"

#include <algorithm>
#include <chrono>

#include "link/FrameFormat.h"
#include "link/LinkEvents.h"

namespace msglink {

namespace {

// How finely storing times are kept: one mark per second of messages.
constexpr double kMarkSpacingMs = 1000.0;

} // namespace

Outbox::Outbox(LinkView& view, const platform::TickClock& clock,
               const std::string& workingDirectory, OutboxOptions options, Diagnostic diagnostic)
    : m_view(view), m_clock(clock), m_options(options), m_diagnostic(std::move(diagnostic)),
      m_createdAt(clock.read()), m_store(workingDirectory, *options.files)
{
    m_store.setSubdirectoryName(backlog::kStoreDirectory);
    if (m_options.commitThread)
        m_commitThread.start([this] { commitLoop(); });
}

Outbox::~Outbox()
{
    {
        std::lock_guard<std::mutex> lock(m_commitMutex);
        m_stopping = true;
    }
    m_commitWanted.notify_one();
    if (m_commitThread.joinable())
        m_commitThread.join();
    commit(); // best effort: what it cannot do comes back as duplicates, never as losses
}

void Outbox::open()
{
    if (m_openTried && (m_store.isOpen() || m_clock.msSince(m_lastOpen) <= m_options.retryWaitMs))
        return;
    m_lastOpen = m_clock.read();
    backlog::StoreStatus opened = m_store.open();
    std::string told;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        // A store opened again counts this run's appends from 0 again.
        m_appended = m_nextUndone = 0;
        m_liveFrom = -1;
        m_marks.clear();
        told = noteStatus(opened, Trouble::Keeping);
    }
    if (!opened)
        m_figures.writeErrors.add();
    m_openTried = true;
    tell(told);
}

std::string Outbox::noteStatus(const backlog::StoreStatus& status, Trouble kind)
{
    // A failure is told when it is new or its reason changed; the recovery once, by an operation
    // of the kind that failed (a read that works says nothing of a full disk).
    const bool failing = !m_problem.empty();
    if (!status) {
        const bool changed = m_problem != status.text();
        m_problem = status.text();
        m_problemKind = kind;
        return changed ? std::string(kEventBacklogFailing) + ": " + status.text() : std::string();
    }
    if (!failing || m_problemKind != kind)
        return {};
    m_problem.clear();
    return kEventBacklogRecovered;
}

void Outbox::tell(const std::string& text)
{
    if (text.empty())
        return;
    m_view.appendLinkEvent(text);
    if (m_diagnostic)
        m_diagnostic(text);
}

void Outbox::report(const std::string& text)
{
    if (m_diagnostic)
        m_diagnostic(text);
}

bool Outbox::storeMessage(const std::string& text)
{
    // A store that is not open (yet) keeps nothing; the link client tries to open it.
    if (!m_store.isOpen())
        return false;
    backlog::StoreStatus status = m_store.append(kDataMessage, Bytes(text.begin(), text.end()));
    std::string told;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        told = noteStatus(status, Trouble::Keeping);
        if (status)
            noteStored(m_appended++);
    }
    if (status)
        m_appendsEver.fetch_add(1);
    else
        m_figures.writeErrors.add();
    tell(told);
    return status.isOk();
}

void Outbox::recordsStored(std::uint64_t records)
{
    {
        std::lock_guard<std::mutex> lock(m_commitMutex);
        if (records <= m_lastRecords)
            return;
        m_lastRecords = records;
        m_storedRecords.push_back({records, m_appendsEver.load()});
    }
    m_commitWanted.notify_one();
}

bool Outbox::commitDue() const
{
    return !m_storedRecords.empty() || m_appendsEver.load() > m_durableAppends;
}

void Outbox::commitLoop()
{
    const auto interval =
        std::chrono::microseconds(static_cast<std::int64_t>(m_options.syncIntervalMs * 1000.0));
    std::unique_lock<std::mutex> lock(m_commitMutex);
    while (!m_stopping) {
        // Stored records go at once: the sync that is under way meanwhile gathers the next group.
        // Taken ones are marked at the pace of the interval, and so is a sync that failed tried
        // again (its diagnostic is said once a minute).
        if (m_commitFailed)
            m_commitWanted.wait_for(lock, interval, [this] { return m_stopping; });
        else if (!m_commitWanted.wait_for(lock, interval,
                                          [this] { return m_stopping || commitDue(); }) &&
                 m_takesEver.load() == m_syncedTakes)
            continue;
        if (m_stopping)
            break;
        lock.unlock();
        const bool ok = commit();
        lock.lock();
        m_commitFailed = !ok;
    }
}

bool Outbox::commit()
{
    std::lock_guard<std::mutex> serial(m_syncMutex);
    const std::uint64_t appends = m_appendsEver.load();
    const std::uint64_t takes = m_takesEver.load();
    if (backlog::StoreStatus s = m_store.sync(); !s) {
        m_figures.writeErrors.add();
        report(s.text());
        return false;
    }
    std::uint64_t records = 0;
    {
        std::lock_guard<std::mutex> lock(m_commitMutex);
        m_durableAppends = std::max(m_durableAppends, appends);
        m_syncedTakes = std::max(m_syncedTakes, takes);
        while (!m_storedRecords.empty() && m_storedRecords.front().appends <= appends) {
            records = m_storedRecords.front().records;
            m_storedRecords.pop_front();
        }
    }
    if (records > 0 && m_options.onDurable)
        m_options.onDurable(records);
    return true;
}

void Outbox::noteStored(std::int64_t index)
{
    const std::uint64_t now = m_clock.read();
    // A mark whose first message is already delivered would date this one too early: by up
    // to a second, which would swamp a live delivery's milliseconds.
    if (m_marks.empty() || m_marks.back().firstIndex < m_nextUndone ||
        m_clock.msBetween(m_marks.back().at, now) >= kMarkSpacingMs)
        m_marks.push_back({index, now});
    // Nothing older waits and the link is logged in: this one goes as it came.
    if (m_linkReady && m_liveFrom < 0 && m_store.pendingCount() <= 1)
        m_liveFrom = index;
}

void Outbox::setLinkReady(bool ready)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_linkReady = ready;
    if (!ready)
        m_liveFrom = -1;
}

bool Outbox::readyToSend() const
{
    return m_store.pendingCount() > 0 &&
           (!m_readBlocked || m_clock.msSince(m_readFailedAt) > m_options.retryWaitMs);
}

std::optional<OutgoingMessage> Outbox::oldest()
{
    if (!readyToSend() || !m_store.isOpen())
        return std::nullopt;
    for (;;) {
        backlog::BacklogStore::Oldest head = m_store.oldest();
        std::string told;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            told = noteStatus(head.status, Trouble::Reading);
        }
        tell(told);
        m_readBlocked = !head.status;
        if (m_readBlocked) {
            // Waits like a failing write; the file is neither skipped nor given up.
            m_readFailedAt = m_clock.read();
            return std::nullopt;
        }
        if (!head.found)
            return std::nullopt;
        m_current = head.appendIndex;
        if (head.good) {
            std::lock_guard<std::mutex> lock(m_mutex);
            const bool live = m_current >= 0 && m_liveFrom >= 0 && m_current >= m_liveFrom;
            return OutgoingMessage{head.code, std::move(head.body), live};
        }
        // A damaged record: taken away unsent, and the next one looked at.
        m_figures.damagedDropped.add();
        m_takesEver.fetch_add(1);
        report("a damaged record was taken away unsent");
        if (backlog::StoreStatus s = m_store.takeOldest(); !s) {
            report(s.text());
            return std::nullopt;
        }
    }
}

void Outbox::done(bool confirmed)
{
    if (backlog::StoreStatus s = m_store.takeOldest(); !s)
        report(s.text() + "; a delivered message stays and goes again");
    m_takesEver.fetch_add(1);
    (confirmed ? m_figures.deliveredBacklog : m_figures.deliveredLive).add();
    if (m_current < 0)
        return;
    std::uint64_t stored = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stored = storedAt(m_current);
        m_nextUndone = m_current + 1;
        // Marks wholly before the next undone message are no longer needed.
        while (m_marks.size() > 1 && m_marks[1].firstIndex <= m_nextUndone)
            m_marks.pop_front();
    }
    m_figures.storedToDelivered.observe(m_clock.msSince(stored) / 1000.0);
    m_current = -1;
}

std::uint64_t Outbox::storedAt(std::int64_t index) const
{
    std::uint64_t at = m_createdAt;
    for (const TimeMark& mark : m_marks) {
        if (mark.firstIndex > index)
            break;
        at = mark.at;
    }
    return at;
}

double Outbox::oldestWaitingSeconds() const
{
    const std::int64_t waiting = m_store.pendingCount();
    if (waiting <= 0)
        return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    // More waiting than this run stored and has not done: the oldest is from an earlier run.
    const bool older = waiting > m_appended - m_nextUndone;
    return m_clock.msSince(older ? m_createdAt : storedAt(m_nextUndone)) / 1000.0;
}

std::string Outbox::problem() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_problem;
}

} // namespace msglink
