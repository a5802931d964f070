// app/MetricsExporter.cpp
#include "app/MetricsExporter.h"

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>

#include <limits>
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

} // namespace

class MetricsExporter::Collector final : public prometheus::Collectable
{
public:
    std::vector<MetricFamily> Collect() const override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return metricFamilies(m_figures);
    }

    void set(const GatewayFigures& figures)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_figures = figures;
    }

private:
    mutable std::mutex m_mutex;
    GatewayFigures m_figures; // guarded by m_mutex
};

std::vector<MetricFamily> metricFamilies(const GatewayFigures& f)
{
    std::vector<MetricFamily> out;
    out.push_back(family("gpsbridge_trackers_connected", "Tracker connections being served now.",
                         MetricType::Gauge, number(f.trackersConnected)));
    out.push_back(family("gpsbridge_packets_acknowledged_total",
                         "Tracker packets acknowledged since start.", MetricType::Counter,
                         number(f.packetsAcknowledged)));
    out.push_back(family("gpsbridge_records_dispatched_total",
                         "Packet records the dispatcher has taken since start.",
                         MetricType::Counter, number(f.recordsDispatched)));

    MetricFamily delivered{"gpsbridge_messages_delivered_total",
                           "Position messages the message server took, by how they went.",
                           MetricType::Counter,
                           {}};
    for (auto [source, value] :
         {std::pair{"live", f.deliveredLive}, std::pair{"backlog", f.deliveredBacklog}}) {
        ClientMetric m;
        m.label = {{"source", source}};
        m.counter.value = number(value);
        delivered.metric.push_back(m);
    }
    out.push_back(delivered);

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
    MetricFamily drops{"gpsbridge_link_drops_total",
                       "Message-server links dropped, or attempts that failed, by reason.",
                       MetricType::Counter,
                       {}};
    for (const auto& [reason, count] : f.linkDrops) {
        ClientMetric m;
        m.label = {{"reason", reason}};
        m.counter.value = number(count);
        drops.metric.push_back(m);
    }
    out.push_back(drops);

    ClientMetric h;
    h.histogram.sample_count = f.storedToDelivered.count;
    h.histogram.sample_sum = f.storedToDelivered.sum;
    for (std::size_t i = 0; i < platform::Histogram::kBounds.size(); ++i)
        h.histogram.bucket.push_back(
            {f.storedToDelivered.cumulative[i], platform::Histogram::kBounds[i]});
    h.histogram.bucket.push_back(
        {f.storedToDelivered.count, std::numeric_limits<double>::infinity()});
    out.push_back({"gpsbridge_stored_to_delivered_seconds",
                   "Time from storing a message in the backlog until the server took it.",
                   MetricType::Histogram,
                   {h}});
    return out;
}

MetricsExporter::MetricsExporter(const std::string& bindAddress)
    : m_collector(std::make_shared<Collector>()),
      m_exposer(std::make_unique<prometheus::Exposer>(bindAddress, 1))
{
    m_exposer->RegisterCollectable(m_collector);
}

MetricsExporter::~MetricsExporter()
{
    m_exposer.reset();
}

void MetricsExporter::publish(const GatewayFigures& figures)
{
    m_collector->set(figures);
}

std::uint16_t MetricsExporter::port() const
{
    std::vector<int> ports = m_exposer->GetListeningPorts();
    return ports.empty() ? 0 : static_cast<std::uint16_t>(ports.front());
}

} // namespace app
