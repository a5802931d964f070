// bench/LoadReport.cpp
#include "bench/LoadReport.h"

#include <cstdio>

namespace loadbench {

namespace {

const Row* findRow(const std::vector<Row>& rows, const std::string& gateway)
{
    for (const Row& r : rows)
        if (r.gateway == gateway)
            return &r;
    return nullptr;
}

// "PASS", or "FAIL: a; b", then the notes in parentheses.
std::string verdict(const std::vector<std::string>& failures, const std::vector<std::string>& notes)
{
    std::string text = failures.empty() ? "PASS" : "FAIL:";
    for (std::size_t i = 0; i < failures.size(); ++i)
        text += (i ? "; " : " ") + failures[i];
    for (std::size_t i = 0; i < notes.size(); ++i)
        text += (i ? "; " : " (") + notes[i] + (i + 1 == notes.size() ? ")" : "");
    return text;
}

// Sets the new row's rate against another row's: a note, and a failure below share (when judged).
void compareRate(Row& row, const Row* other, const char* name, std::optional<double> share)
{
    if (!other)
        return;
    if (other->ratePerS <= 0) {
        row.notes.push_back("no " + std::string(name) + " rate to compare with");
        return;
    }
    const double ratio = row.ratePerS / other->ratePerS;
    row.notes.push_back(figure(ratio, 2) + " x the " + name + "'s delivered/s");
    if (share && ratio < *share)
        row.failures.push_back("delivered/s below " + figure(*share, 2) + " x the " + name + "'s");
}

} // namespace

std::string figure(std::optional<double> v, int decimals)
{
    if (!v)
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, *v);
    return text;
}

void compareRows(std::vector<Row>& rows, double baselineShare, double standInShare)
{
    for (Row& r : rows) {
        if (r.gateway != "new")
            continue;
        const bool judged = r.scenario == "flat-out";
        compareRate(r, findRow(rows, "baseline"), "baseline",
                    judged ? std::optional(baselineShare) : std::nullopt);
        compareRate(r, findRow(rows, "stand-in"), "stand-in",
                    judged ? std::optional(standInShare) : std::nullopt);
    }
}

void printHeader()
{
    std::printf(
        "| scenario | gateway | trackers | acked | delivered | delivered/s | undelivered "
        "| duplicates | ack to delivery p50 ms | ack to delivery p99 ms | send to ack p50 ms "
        "| send to ack p99 ms | CPU µs/msg | ceiling/s | result |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
}

void printRow(const Row& r)
{
    const Tally& t = r.tally;
    std::printf(
        "| %s | %s | %zu | %zu | %zu | %.0f | %zu | %zu | %.1f | %.1f | %s | %s | %s | %.0f "
        "| %s |\n",
        r.scenario.c_str(), r.gateway.c_str(), r.trackers, t.acked, t.delivered, r.ratePerS,
        t.undelivered, t.duplicates, t.latencyP50Ms, t.latencyP99Ms, figure(r.ackP50Ms).c_str(),
        figure(r.ackP99Ms).c_str(), figure(r.cpuUsPerMessage).c_str(), r.ceilingPerS,
        verdict(r.failures, r.notes).c_str());
    std::fflush(stdout);
}

void printMemoryHeader(const std::vector<std::size_t>& marks)
{
    std::string columns, rule;
    for (std::size_t m : marks) {
        columns += " RSS MB at ";
        columns += m >= 1'000'000 && m % 1'000'000 == 0 ? std::to_string(m / 1'000'000) + "M"
                   : m > 0                              ? std::to_string(m / 1000) + "k"
                                                        : "0";
        columns += " |";
        rule += "---|";
    }
    std::printf(
        "\n| scenario | gateway | trackers | records stored |%s stored/s | send to ack p50 ms "
        "| send to ack p99 ms | CPU µs/record | result "
        "|\n|---|---|---|---|%s---|---|---|---|---|\n",
        columns.c_str(), rule.c_str());
    std::fflush(stdout);
}

void printMemoryRow(const MemoryRow& r)
{
    // Appended piece by piece: GCC 12 at -O3 warns falsely about a string added to a literal.
    std::string samples;
    for (const auto& mb : r.residentMb) {
        samples += ' ';
        samples += figure(mb);
        samples += " |";
    }
    std::printf("| outage-rss | %s | %zu | %zu |%s %.0f | %s | %s | %s | %s |\n", r.gateway.c_str(),
                r.trackers, r.stored, samples.c_str(), r.storedPerS, figure(r.ackP50Ms).c_str(),
                figure(r.ackP99Ms).c_str(), figure(r.cpuUsPerRecord).c_str(),
                verdict(r.failures, r.notes).c_str());
    std::fflush(stdout);
}

} // namespace loadbench
