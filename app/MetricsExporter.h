// app/MetricsExporter.h: the gateway's running figures for Prometheus, served over HTTP at
// /metrics on the address the MetricsAddress setting names.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/GatewayFigures.h"

namespace prometheus {
class Exposer;
struct MetricFamily;
} // namespace prometheus

namespace app {

// The metric families for one reading of the figures.
std::vector<prometheus::MetricFamily> metricFamilies(const GatewayFigures& figures);

class MetricsExporter
{
public:
    // Starts serving at once, on its own threads. bindAddress is "a.b.c.d:port" (port 0: any
    // free one). Throws std::runtime_error when the address cannot be bound.
    explicit MetricsExporter(const std::string& bindAddress);
    ~MetricsExporter(); // stops serving; no scrape runs afterwards

    MetricsExporter(const MetricsExporter&) = delete;
    MetricsExporter& operator=(const MetricsExporter&) = delete;

    // Any thread. The figures the next scrape answers with; until the first call, all zero.
    void publish(const GatewayFigures& figures);

    // The port being served.
    std::uint16_t port() const;

private:
    class Collector;
    std::shared_ptr<Collector> m_collector;
    std::unique_ptr<prometheus::Exposer> m_exposer;
};

} // namespace app
