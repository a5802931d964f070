// tracker/Dispatcher.cpp
#include "tracker/Dispatcher.h"

#include <algorithm>

#include "tracker/PositionMessage.h"

namespace tracker {

namespace {

constexpr std::size_t kVersionOffset = 3;
constexpr std::size_t kFieldCountOffset = 27;
constexpr std::size_t kFieldListOffset = 28;

} // namespace

Dispatcher::Dispatcher(HandoverQueue& queue, platform::DayLog& dayLog, PositionSink& sink,
                       const platform::TickClock& clock, DispatchBudget budget)
    : m_queue(queue), m_dayLog(dayLog), m_sink(sink), m_clock(clock), m_budget(budget)
{
}

bool Dispatcher::offerHeld()
{
    while (!m_held.empty()) {
        if (!m_sink.storeMessage(m_held.front())) {
            m_refusedAt = m_clock.read();
            return false;
        }
        m_held.pop_front();
        m_positions.fetch_add(1, std::memory_order_relaxed); // this thread is its only writer
    }
    return true;
}

bool Dispatcher::tick()
{
    const std::uint64_t start = m_clock.read();
    bool changed = applyReadyNotices();
    std::uint32_t connection = 0;
    m_emptied = false;
    if (!m_held.empty() &&
        (m_clock.msBetween(m_refusedAt, start) <= m_budget.retryMs || !offerHeld()))
        return changed;
    for (std::size_t taken = 0; taken < m_budget.maxRecords && m_held.empty(); ++taken) {
        // The one clock reading per record serves the budget and the row's last-seen time.
        const std::uint64_t now = m_clock.read();
        if (m_clock.msBetween(start, now) > m_budget.maxMs)
            break;
        if (!m_queue.peekPacket(&m_record, &connection)) {
            m_emptied = true;
            break;
        }
        // Out of the queue before anything else: from here on the dispatcher holds it.
        m_queue.popPacket();
        m_taken.fetch_add(1, std::memory_order_relaxed); // this thread is its only writer
        changed |= handleRecord(m_record, connection, now);
        // A notice queued right behind this record may apply now; later records of other
        // trackers must not wait for it.
        changed |= applyReadyNotices();
    }
    m_sink.recordsStored(keptRecords());
    return changed;
}

bool Dispatcher::drain()
{
    bool changed = false;
    do {
        if (!m_held.empty() && !offerHeld())
            break; // the sink keeps nothing now; what is held and queued stays unkept
        changed |= tick();
    } while (!m_emptied || !m_held.empty());
    return changed;
}

bool Dispatcher::applyReadyNotices()
{
    bool changed = false;
    std::uint64_t recordsBefore = 0;
    while (m_queue.peekNotice(&m_notice, &recordsBefore) &&
           recordsBefore <= m_queue.recordsDropped()) {
        m_queue.popNotice();
        if (m_notice.size() == kNoticeSize && m_notice[0] == kDisconnectNotice)
            changed |= m_table.connectionEnded(readU32(m_notice.data() + 1));
    }
    return changed;
}

bool Dispatcher::handleRecord(const Bytes& record, std::uint32_t connection, std::uint64_t seenAt)
{
    if (record.size() < kImeiFieldSize + kHeaderSize + kChecksumSize)
        return false;
    ImeiField imei;
    std::copy_n(record.begin(), kImeiFieldSize, imei.begin());
    const std::uint8_t* packet = record.data() + kImeiFieldSize;
    const std::size_t size = record.size() - kImeiFieldSize;
    writeHexLine(packet, size);
    switch (packetType(readU16(packet))) {
    case kIdentificationPacket:
        return identify(packet, size, connection, seenAt);
    case kDataPacket:
        return dispatchData(imei, packet, size, seenAt);
    default:
        return false;
    }
}

bool Dispatcher::identify(const std::uint8_t* packet, std::size_t size, std::uint32_t connection,
                          std::uint64_t seenAt)
{
    // Nothing is read beyond the packet: without the IMEI there is no row to touch, and a
    // field list is taken only as far as it stands before the checksum.
    if (size < kImeiOffset + kImeiLength)
        return false;
    ImeiField imei;
    imei[0] = static_cast<std::uint8_t>(kImeiLength);
    std::copy_n(packet + kImeiOffset, kImeiLength, imei.begin() + 1);

    TrackerRow* row = m_table.find(imei);
    if (!row)
        row = &m_table.add(imei);
    row->linked = true;
    row->connection = connection;
    row->version = packet[kVersionOffset];
    row->lastSeen = seenAt;

    // Field ids the packet announces but does not hold are unknown ids: decoding stops where a
    // record reaches one, rather than reading later records at the wrong widths. A packet too
    // short to hold the field count announces one unknown field.
    const std::size_t bodyEnd = size - kChecksumSize;
    const std::size_t declared = bodyEnd > kFieldCountOffset ? packet[kFieldCountOffset] : 1;
    const std::size_t present =
        std::min(declared, bodyEnd > kFieldListOffset ? bodyEnd - kFieldListOffset : 0);
    row->fieldCount = static_cast<std::uint8_t>(declared);
    std::copy_n(packet + kFieldListOffset, present, row->fields.begin());
    std::fill(row->fields.begin() + static_cast<std::ptrdiff_t>(present),
              row->fields.begin() + static_cast<std::ptrdiff_t>(declared), kNoSuchField);
    return true;
}

bool Dispatcher::dispatchData(const ImeiField& imei, const std::uint8_t* packet, std::size_t size,
                              std::uint64_t seenAt)
{
    if (size < 5)
        return false;
    const unsigned count = packet[2];
    TrackerRow* row = count == 0 ? nullptr : m_table.find(imei);
    if (!row)
        return false;
    // The count grows by K even when decoding stops early.
    row->dataCount += count;
    row->lastSeen = seenAt;
    decodeDataPacket(*row, packet, size, [this](const std::string& m) { m_held.push_back(m); });
    offerHeld();
    return true;
}

void Dispatcher::writeHexLine(const std::uint8_t* packet, std::size_t size)
{
    static const char* digits = "0123456789ABCDEF";
    m_line.assign(1, ' ');
    for (std::size_t i = 0; i < size; ++i) {
        m_line += digits[packet[i] >> 4];
        m_line += digits[packet[i] & 15];
    }
    m_dayLog.writeLine(m_line);
}

} // namespace tracker
