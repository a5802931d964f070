// tracker/Dispatcher.h: takes what the workers queued, keeps the tracker table, writes the hex
// lines and turns data records into position messages. Window's thread only.
#pragma once

#include <cstddef>
#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "platform/DayLog.h"
#include "platform/TickClock.h"
#include "tracker/HandoverQueue.h"
#include "tracker/PositionSink.h"
#include "tracker/TrackerTable.h"

namespace tracker {

// How much one tick may take before it gives the thread back; the rest waits for the next.
struct DispatchBudget
{
    std::size_t maxRecords = 2000;
    double maxMs = 5.0;
    // After the sink could not keep a message, how long before it is offered again.
    double retryMs = 1000.0;
};

class Dispatcher
{
public:
    // All references must outlive the dispatcher.
    Dispatcher(HandoverQueue& queue, platform::DayLog& dayLog, PositionSink& sink,
               const platform::TickClock& clock, DispatchBudget budget = {});

    // One dispatch tick: records in queue order until the queue is empty or the budget is
    // spent, and every disconnect notice whose connection's earlier records have all been
    // taken. Returns true when the tracker table changed (rows, links or counts).
    //
    // A record's messages are handed to the sink one by one; when the sink cannot keep one,
    // it and the rest of that record are held, no further record is taken (they wait in the
    // queue, unacknowledged), and the held ones are offered again after the retry time.
    bool tick();

    // Ticks until the queue is empty, whatever the budget; for the orderly stop, once nothing
    // more can arrive. Stops early when the sink keeps nothing. Returns true when the tracker
    // table changed.
    bool drain();

    // Records taken from the queue whose messages are all kept: the first keptRecords() ever
    // put. Grows with every tick that kept something.
    std::uint64_t keptRecords() const { return recordsTaken() - (m_held.empty() ? 0 : 1); }

    // Any thread. Records taken from the queue since start.
    std::uint64_t recordsTaken() const { return m_taken.load(std::memory_order_relaxed); }

    // Any thread. Position messages the sink has kept since start: one per decoded record.
    std::uint64_t positionsDispatched() const
    {
        return m_positions.load(std::memory_order_relaxed);
    }

    // Messages held because the sink could not keep them.
    std::size_t heldMessages() const { return m_held.size(); }

    const TrackerTable& table() const { return m_table; }

private:
    bool applyReadyNotices();
    // seenAt: the tick-clock reading the budget was checked with, kept as the row's last seen.
    bool handleRecord(const Bytes& record, std::uint32_t connection, std::uint64_t seenAt);
    bool identify(const std::uint8_t* packet, std::size_t size, std::uint32_t connection,
                  std::uint64_t seenAt);
    bool dispatchData(const ImeiField& imei, const std::uint8_t* packet, std::size_t size,
                      std::uint64_t seenAt);
    // Offers the held messages in order; false when the sink refused one.
    bool offerHeld();
    void writeHexLine(const std::uint8_t* packet, std::size_t size);

    HandoverQueue& m_queue;
    platform::DayLog& m_dayLog;
    PositionSink& m_sink;
    const platform::TickClock& m_clock;
    const DispatchBudget m_budget;
    TrackerTable m_table;
    bool m_emptied = false;                    // the last tick found the packet queue empty
    std::atomic<std::uint64_t> m_taken{0};     // records taken from the queue since start
    std::atomic<std::uint64_t> m_positions{0}; // position messages the sink kept since start
    std::deque<std::string> m_held;
    std::uint64_t m_refusedAt = 0; // when the sink last refused a message
    Bytes m_record;                // reused
    Bytes m_notice;                // reused
    std::string m_line;            // reused
};

} // namespace tracker
