// tracker/TrackerTable.cpp
#include "tracker/TrackerTable.h"

namespace tracker {

namespace {

std::string key(const ImeiField& imei)
{
    return std::string(imei.begin() + 1, imei.end());
}

} // namespace

std::string TrackerRow::imeiText() const
{
    return key(imei);
}

TrackerRow* TrackerTable::find(const ImeiField& imei)
{
    if (imei[0] != kImeiLength)
        return nullptr;
    auto it = m_byImei.find(key(imei));
    return it == m_byImei.end() ? nullptr : &m_rows[it->second];
}

TrackerRow& TrackerTable::add(const ImeiField& imei)
{
    m_byImei.emplace(key(imei), m_rows.size());
    TrackerRow& row = m_rows.emplace_back();
    row.imei = imei;
    return row;
}

bool TrackerTable::connectionEnded(std::uint32_t connection)
{
    // Connection numbers are never reused, so every row still bound to this one lost its link;
    // more than one only when a connection identified itself with several IMEIs.
    bool any = false;
    for (TrackerRow& row : m_rows) {
        if (row.connection == connection && row.linked) {
            row.linked = false;
            any = true;
        }
    }
    return any;
}

} // namespace tracker
