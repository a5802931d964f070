// link/Outbox.h: every position message on its way to the message server, from the dispatcher's
// hand-over to the server's reply: the backlog store it waits in, the group commit that makes it
// last, the store's health, which messages were handed over live and when each was stored.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "backlog/BacklogStore.h"
#include "link/LinkView.h"
#include "platform/FileSystem.h"
#include "platform/Stats.h"
#include "platform/Thread.h"
#include "platform/TickClock.h"
#include "tracker/PositionSink.h"

namespace msglink {

using Bytes = platform::Bytes;

struct OutboxOptions
{
    // Taken records are marked on the disk at most this late (stored ones go at once).
    double syncIntervalMs = 50.0;
    // A store that cannot be opened or read is tried again after this long.
    double retryWaitMs = 1000.0;
    // The group commit runs on a thread of its own; off, the owner calls commit() (tests).
    bool commitThread = true;
    // Commit thread (or commit()'s caller). Every record up to this number has all its messages
    // on the disk: they may be acknowledged.
    std::function<void(std::uint64_t records)> onDurable;
    platform::FileSystem* files = &platform::osFileSystem();
};

// What the outbox has delivered so far; any thread reads them.
struct OutboxFigures
{
    platform::Counter deliveredLive;       // answered by the server, sent as they came
    platform::Counter deliveredBacklog;    // confirmed by the server, sent from the backlog
    platform::Counter damagedDropped;      // damaged records taken away unsent
    platform::Histogram storedToDelivered; // seconds from storing a message to its delivery
    platform::Counter writeErrors;         // store openings, appends and syncs that failed
};

// The oldest message, ready to go.
struct OutgoingMessage
{
    std::uint32_t code = 0;
    Bytes body;
    // Handed over while the link was logged in and nothing older waited: any reply of the server
    // completes it, as for a message sent as it came. Any other needs a delivery confirmation.
    bool live = false;
};

// Every message is stored first and sent from the store, oldest first, so the order of the
// messages is the order they were handed over, whatever the link does. A message leaves the
// store only once it is done; a message that was sent and not done goes again (it may arrive
// twice, it is never lost).
//
// Threads: the dispatcher stores (the window's thread), the link client takes (its own thread);
// the figures and the health are read from any thread. The outbox's own lock and the store's are
// never held together, and neither is held while an event is told.
class Outbox final : public tracker::PositionSink
{
public:
    using Diagnostic = std::function<void(const std::string&)>;

    // The store is <workingDirectory>/dd8. Events go to the view's event list and to diagnostic,
    // from whichever thread meets them; view and clock must outlive the outbox.
    Outbox(LinkView& view, const platform::TickClock& clock, const std::string& workingDirectory,
           OutboxOptions options = {}, Diagnostic diagnostic = {});
    ~Outbox() override; // makes what was stored last, best effort

    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Opens the store unless it is open: at once the first time, then at most once per retry
    // wait. A failure is told once (event list and diagnostics), and so is the recovery. One
    // thread at a time: start-up, then the link client's.
    void open();
    // Any thread. The first opening has been tried.
    bool openTried() const { return m_openTried.load(); }

    // Window's thread. Stored (written to the backlog's file, not yet synced) when true; false
    // when it could not be (the store is not open, or the write failed): the caller keeps it and
    // offers it again later. A failure is told once, and so is the recovery.
    bool storeMessage(const std::string& text) override;

    // Window's thread. Records up to this number have all their messages stored: onDurable tells
    // when they are on the disk. Wakes the commit thread.
    void recordsStored(std::uint64_t records) override;

    // One group commit: everything stored before the call is made durable (one sync serves every
    // record waiting), then onDurable says how far records are. The commit thread, or any
    // thread when there is none; several at once are serialised. False when the sync failed.
    bool commit();

    // Link client's thread. While set (logged in), a message stored while nothing older waits
    // goes as it came; clearing it (the link dropped) makes every waiting message need a
    // confirmation.
    void setLinkReady(bool ready);

    // Link client's thread. The oldest message, left in the store. Damaged records are taken
    // away on the way (and counted). Nothing when none waits, the store is not open, or a failed
    // read waits for its retry time (the failure is told once).
    std::optional<OutgoingMessage> oldest();

    // Link client's thread. The message oldest() gave last is delivered: confirmed by the server,
    // or answered as it went live. It is taken from the store.
    void done(bool confirmed);

    // Link client's thread. Something waits that oldest() would give now.
    bool readyToSend() const;

    // Any thread.
    std::int64_t depth() const { return m_store.pendingCount(); }
    // How long the oldest waiting message has waited, in seconds: since it was stored (to the
    // second), or since the outbox was made for one stored by an earlier run; 0 when none waits.
    double oldestWaitingSeconds() const;
    // Empty while the store is open and usable; otherwise why not.
    std::string problem() const;
    const OutboxFigures& figures() const { return m_figures; }

    // For tests and benchmarks: the store itself.
    backlog::BacklogStore& store() { return m_store; }

private:
    enum class Trouble
    {
        Keeping, // opening or writing
        Reading
    };

    // Records stored, and the appends (counted over the outbox's life) they need durable.
    struct StoredRecords
    {
        std::uint64_t records;
        std::uint64_t appends;
    };

    void commitLoop();
    bool commitDue() const; // under m_commitMutex

    // Records the status of an operation of that kind; gives the event to tell, if any.
    std::string noteStatus(const backlog::StoreStatus& status, Trouble kind);
    void tell(const std::string& text);
    void report(const std::string& text);
    void noteStored(std::int64_t index);
    std::uint64_t storedAt(std::int64_t index) const; // under m_mutex

    LinkView& m_view;
    const platform::TickClock& m_clock;
    const OutboxOptions m_options;
    const Diagnostic m_diagnostic;
    const std::uint64_t m_createdAt;
    OutboxFigures m_figures;
    backlog::BacklogStore m_store;

    // The group commit.
    std::atomic<std::uint64_t> m_appendsEver{0}; // successful appends over the outbox's life
    std::atomic<std::uint64_t> m_takesEver{0};
    std::mutex m_syncMutex;           // one commit at a time
    mutable std::mutex m_commitMutex; // guards what follows up to the thread
    std::condition_variable m_commitWanted;
    std::deque<StoredRecords> m_storedRecords;
    std::uint64_t m_lastRecords = 0;
    std::uint64_t m_durableAppends = 0;
    std::uint64_t m_syncedTakes = 0;
    bool m_commitFailed = false;
    bool m_stopping = false;
    platform::Thread m_commitThread;

    // Opening (start-up, then the link client's thread).
    std::atomic<bool> m_openTried{false};
    std::uint64_t m_lastOpen = 0;

    // Link client's thread only.
    std::int64_t m_current = -1; // this run's append index of what oldest() gave; -1: older
    bool m_readBlocked = false;  // a read failed: the next waits for the retry time
    std::uint64_t m_readFailedAt = 0;

    // When this run's appends were stored: each mark holds the first append index stored in
    // its second, or the first one stored after the first message of the mark before it was
    // delivered (so a message stored while the link keeps up has its own time, to the tick).
    // Memory grows with the seconds of an outage, not with its messages.
    struct TimeMark
    {
        std::int64_t firstIndex;
        std::uint64_t at;
    };

    mutable std::mutex m_mutex; // guards what follows
    bool m_linkReady = false;
    std::int64_t m_liveFrom = -1;  // this run's appends from here on are live; -1: none
    std::int64_t m_appended = 0;   // this run's appends so far
    std::int64_t m_nextUndone = 0; // this run's appends before this one are done
    std::deque<TimeMark> m_marks;
    std::string m_problem; // empty while the store works
    Trouble m_problemKind = Trouble::Keeping;
};

} // namespace msglink
