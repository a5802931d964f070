// tracker/TrackerTable.h: one row per tracker identified since start; window's thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "tracker/PacketFormat.h"

namespace tracker {

struct TrackerRow
{
    ImeiField imei{};             // length byte 15 and the characters
    std::uint32_t connection = 0; // connection that sent the latest identification
    std::uint8_t version = 0;
    std::uint8_t fieldCount = 0;
    std::array<std::uint8_t, 256> fields{}; // the first fieldCount entries are used
    bool linked = false;
    std::int64_t dataCount = 0; // records of all data packets dispatched for this IMEI
    std::uint64_t lastSeen = 0; // dispatcher's tick-clock reading at its latest packet

    std::string imeiText() const;
};

class TrackerTable
{
public:
    // Rows in the order the trackers first identified themselves; never removed or reordered.
    const std::vector<TrackerRow>& rows() const { return m_rows; }
    std::size_t size() const { return m_rows.size(); }

    // The row of this IMEI field, or null. An empty field (length 0) matches no row.
    TrackerRow* find(const ImeiField& imei);

    // Appends a row for an IMEI not yet in the table.
    TrackerRow& add(const ImeiField& imei);

    // Clears the link flag of every row bound to the ended connection. True when any was.
    bool connectionEnded(std::uint32_t connection);

private:
    std::vector<TrackerRow> m_rows;
    std::unordered_map<std::string, std::size_t> m_byImei; // IMEI characters -> row index
};

} // namespace tracker
