// bench/LoadLedger.cpp
#include "bench/LoadLedger.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>

#include "tools/gt20sim/AckedLog.h"
#include "tools/gt20sim/RunStats.h"

namespace loadbench {

namespace {

template <typename T> std::optional<T> number(std::string_view text)
{
    T v{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return v;
}

// The text of a JSON string member, as the gateway writes it: "name":"text".
std::optional<std::string_view> member(std::string_view json, std::string_view name)
{
    std::string key = "\"";
    key += name;
    key += "\":\"";
    std::size_t from = json.find(key);
    if (from == std::string_view::npos)
        return std::nullopt;
    from += key.size();
    std::size_t to = json.find('"', from);
    if (to == std::string_view::npos)
        return std::nullopt;
    return json.substr(from, to - from);
}

} // namespace

std::optional<Stamped> parseAckedLine(const std::string& line)
{
    std::size_t a = line.find(' ');
    std::size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
    if (b == std::string::npos)
        return std::nullopt;
    auto seconds = number<std::uint32_t>(std::string_view(line).substr(a + 1, b - a - 1));
    auto at = number<std::int64_t>(std::string_view(line).substr(b + 1));
    if (a == 0 || !seconds || !at)
        return std::nullopt;
    std::string record = line.substr(0, a);
    record += ' ';
    record += gt20sim::messageTimeText(*seconds);
    return Stamped{record, *at};
}

std::optional<Stamped> parseMessageLine(const std::string& line)
{
    std::size_t blank = line.find(' ');
    if (blank == std::string::npos)
        return std::nullopt;
    auto at = number<std::int64_t>(std::string_view(line).substr(0, blank));
    std::string_view json = std::string_view(line).substr(blank + 1);
    auto imei = member(json, "imei");
    auto time = member(json, "time");
    if (!at || !imei || !time)
        return std::nullopt;
    std::string record(*imei);
    record += ' ';
    record += *time;
    return Stamped{record, *at};
}

std::optional<AckLatency> parseAckLatency(const std::string& summaryFigures)
{
    std::istringstream in(summaryFigures);
    std::string p50, p90, p99;
    double ignored = 0;
    AckLatency l;
    if (!(in >> p50 >> l.p50Ms >> p90 >> ignored >> p99 >> l.p99Ms) || p50 != "p50" || p99 != "p99")
        return std::nullopt;
    return l;
}

void Ledger::acked(const Stamped& s)
{
    Entry& e = m_records[s.record];
    if (e.ackedUs)
        return; // acknowledged twice (sent again after a lost acknowledgement): one record
    e.ackedUs = s.atUs;
    if (e.arrivals == 0)
        ++m_waiting;
}

void Ledger::arrived(const Stamped& s)
{
    Entry& e = m_records[s.record];
    if (e.arrivals++ == 0) {
        e.firstArrivalUs = s.atUs;
        if (e.ackedUs)
            --m_waiting;
    }
}

Tally Ledger::tally() const
{
    Tally t;
    std::vector<double> latencies;
    auto widen = [](std::optional<std::int64_t>& low, std::optional<std::int64_t>& high,
                    std::int64_t v) {
        low = low ? std::min(*low, v) : v;
        high = high ? std::max(*high, v) : v;
    };
    for (const auto& [record, e] : m_records) {
        t.duplicates += e.arrivals > 1;
        if (!e.ackedUs) {
            ++t.unacked;
            continue;
        }
        ++t.acked;
        widen(t.firstAckUs, t.lastAckUs, *e.ackedUs);
        if (!e.firstArrivalUs) {
            ++t.undelivered;
            continue;
        }
        ++t.delivered;
        widen(t.firstArrivalUs, t.lastArrivalUs, *e.firstArrivalUs);
        latencies.push_back(
            static_cast<double>(std::max<std::int64_t>(0, *e.firstArrivalUs - *e.ackedUs)) / 1000);
    }
    t.latencyP50Ms = gt20sim::percentile(latencies, 50);
    t.latencyP99Ms = gt20sim::percentile(latencies, 99);
    return t;
}

std::vector<std::string> LineFollower::newLines()
{
    std::ifstream in(m_path, std::ios::binary);
    if (!in)
        return {};
    in.seekg(static_cast<std::streamoff>(m_offset));
    std::string added((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    m_offset += added.size();
    m_partial += added;
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = m_partial.find('\n', from)) != std::string::npos; from = end + 1)
        lines.push_back(m_partial.substr(from, end - from));
    m_partial.erase(0, from);
    return lines;
}

} // namespace loadbench
