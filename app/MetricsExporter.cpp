// app/MetricsExporter.cpp
#include "app/MetricsExporter.h"

#include "app/Settings.h"

#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include <initializer_list>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>

namespace app {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

MetricFamily family(const char* name, const char* help, MetricType type, double value)
{
    ClientMetric m;
    if (type == MetricType::Counter)
        m.counter.value = value;
    else
        m.gauge.value = value;
    return {name, help, type, {m}};
}

double number(std::uint64_t v)
{
    return static_cast<double>(v);
}

// One counter family with a sample per value of one label: (label value, count) pairs.
MetricFamily labelledCounter(const char* name, const char* help, const char* label,
                             const std::vector<std::pair<std::string, std::uint64_t>>& values)
{
    MetricFamily out{name, help, MetricType::Counter, {}};
    for (const auto& [value, count] : values) {
        ClientMetric m;
        m.label = {{label, value}};
        m.counter.value = number(count);
        out.metric.push_back(m);
    }
    return out;
}

// The version is the project's; the revision, the commit the build was configured at, where
// the source was a git checkout.
MetricFamily buildInfo()
{
    ClientMetric m;
    m.label = {{"version", GPSBRIDGE_FILE_VERSION}};
#ifdef GPSBRIDGE_REVISION
    m.label.push_back({"revision", GPSBRIDGE_REVISION});
#endif
    m.gauge.value = 1;
    return {"gpsbridge_build_info",
            "The gateway's version (and git revision), as labels; always 1.",
            MetricType::Gauge,
            {m}};
}

// The figures the system gave; an absent one is left out.
void addProcessFamilies(std::vector<MetricFamily>& out, const platform::ProcessFigures& p)
{
    struct Figure
    {
        const char* name;
        const char* help;
        MetricType type;
        const std::optional<double>& value;
    };
    const Figure figures[] = {
        {"process_cpu_seconds_total", "Total user and system CPU time spent in seconds.",
         MetricType::Counter, p.cpuSeconds},
        {"process_resident_memory_bytes", "Resident memory size in bytes.", MetricType::Gauge,
         p.residentBytes},
        {"process_open_fds", "Number of open file descriptors.", MetricType::Gauge, p.openFiles},
        {"process_max_fds", "Maximum number of open file descriptors.", MetricType::Gauge,
         p.maxOpenFiles},
        {"process_start_time_seconds", "Start time of the process since unix epoch in seconds.",
         MetricType::Gauge, p.startTimeSeconds},
        {"process_threads", "Number of OS threads in the process.", MetricType::Gauge, p.threads},
    };
    for (const Figure& f : figures)
        if (f.value)
            out.push_back(family(f.name, f.help, f.type, *f.value));
}

} // namespace

std::vector<MetricFamily> metricFamilies(const GatewayFigures& f,
                                         const platform::ProcessFigures& process)
{
    std::vector<MetricFamily> out;
    out.push_back(family("gpsbridge_trackers_connected", "Tracker connections being served now.",
                         MetricType::Gauge, number(f.trackersConnected)));
    out.push_back(family("gpsbridge_packets_acknowledged_total",
                         "Tracker packets acknowledged since start.", MetricType::Counter,
                         number(f.packetsAcknowledged)));
    out.push_back(family("gpsbridge_records_dispatched_total",
                         "Position records decoded from data packets and handed on for "
                         "delivery (stored in the backlog) since start.",
                         MetricType::Counter, number(f.recordsDispatched)));

    out.push_back(labelledCounter("gpsbridge_messages_delivered_total",
                                  "Position messages the message server took, by how they went.",
                                  "source",
                                  {{"live", f.deliveredLive}, {"backlog", f.deliveredBacklog}}));

    out.push_back(family("gpsbridge_backlog_messages", "Messages waiting in the backlog (dd8/).",
                         MetricType::Gauge, static_cast<double>(f.backlogDepth)));
    out.push_back(family("gpsbridge_backlog_oldest_age_seconds",
                         "How long the oldest backlog message has waited; 0 when none waits.",
                         MetricType::Gauge, f.backlogOldestAgeSeconds));
    out.push_back(family("gpsbridge_link_state",
                         "Message-server link: 0 down, 1 connected, 2 logged in.",
                         MetricType::Gauge, static_cast<double>(static_cast<int>(f.link))));
    out.push_back(family("gpsbridge_link_reconnects_total",
                         "Connection attempts to the message server after the first.",
                         MetricType::Counter, number(f.reconnects)));
    out.push_back(
        labelledCounter("gpsbridge_link_drops_total",
                        "Message-server links dropped, or attempts that failed, by reason.",
                        "reason", f.linkDrops));

    ClientMetric h;
    h.histogram.sample_count = f.storedToDelivered.count;
    h.histogram.sample_sum = f.storedToDelivered.sum;
    for (std::size_t i = 0; i < platform::Histogram::kBounds.size(); ++i)
        h.histogram.bucket.push_back(
            {f.storedToDelivered.cumulative[i], platform::Histogram::kBounds[i]});
    h.histogram.bucket.push_back(
        {f.storedToDelivered.count, std::numeric_limits<double>::infinity()});
    out.push_back({"gpsbridge_stored_to_delivered_seconds",
                   "Seconds from storing a position message in the backlog (dd8/; its tracker is "
                   "acknowledged once it is synced) until the message server took it: answered "
                   "as it went live, or confirmed from the backlog.",
                   MetricType::Histogram,
                   {h}});

    out.push_back(labelledCounter(
        "gpsbridge_packets_refused_total",
        "Tracker packets not acknowledged since start, by reason: checksum (wrong checksum), "
        "stalled (stopped coming midway for a whole receive wait), queue_full (the hand-over "
        "queue was full), withheld (not kept in time, or records before the tracker identified "
        "itself).",
        "reason",
        {{"checksum", f.refusedWrongChecksum},
         {"stalled", f.refusedStalled},
         {"queue_full", f.refusedQueueFull},
         {"withheld", f.refusedWithheld}}));
    out.push_back(family("gpsbridge_backlog_write_errors_total",
                         "Failed openings, appends and syncs of the backlog store (dd8/) since "
                         "start.",
                         MetricType::Counter, number(f.backlogWriteErrors)));
    out.push_back(family("gpsbridge_resends_total",
                         "Position messages sent to the message server again since start: after "
                         "a lost link, or when no confirmation or valid reply came for the last "
                         "copy.",
                         MetricType::Counter, number(f.resends)));
    out.push_back(buildInfo());
    addProcessFamilies(out, process);
    return out;
}

MetricsExporter::MetricsExporter(const std::string& bindAddress,
                                 platform::HttpServerOptions options, ProcessReader readProcess)
    : m_readProcess(std::move(readProcess)), m_status(std::make_shared<const StatusSnapshot>()),
      m_server([this](const platform::HttpRequest& r) { return answer(r); }, options)
{
    const std::optional<std::string> address = metricsBindAddress(bindAddress);
    if (!address)
        throw std::runtime_error("not a.b.c.d:port");
    const std::size_t colon = address->rfind(':');
    m_host = address->substr(0, colon);
    std::string failure;
    if (!m_server.start(m_host, static_cast<std::uint16_t>(std::stoi(address->substr(colon + 1))),
                        &failure))
        throw std::runtime_error(failure);
}

MetricsExporter::~MetricsExporter()
{
    m_server.stop();
}

void MetricsExporter::publish(const GatewayFigures& figures, StatusSnapshot status)
{
    auto shared = std::make_shared<const StatusSnapshot>(std::move(status));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_figures = figures;
    m_status = std::move(shared);
}

std::uint16_t MetricsExporter::port() const
{
    return m_server.port();
}

std::string MetricsExporter::address() const
{
    return m_host + ":" + std::to_string(port());
}

platform::HttpResponse MetricsExporter::answer(const platform::HttpRequest& request) const
{
    const bool known =
        request.path == "/" || request.path == "/status.json" || request.path == "/metrics";
    if (!known)
        return platform::plainAnswer(404);
    if (request.method != "GET") {
        platform::HttpResponse refused = platform::plainAnswer(405);
        refused.allow = "GET";
        return refused;
    }
    GatewayFigures figures;
    std::shared_ptr<const StatusSnapshot> status;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        figures = m_figures;
        status = m_status;
    }
    if (request.path == "/metrics") {
        return {200,
                "text/plain; version=0.0.4; charset=utf-8",
                prometheus::TextSerializer().Serialize(metricFamilies(figures, m_readProcess())),
                {}};
    }
    if (request.path == "/status.json")
        return {200, "application/json; charset=utf-8", statusJson(*status), {}};
    return {200, "text/html; charset=utf-8", statusPageHtml(*status), {}};
}

} // namespace app
