// app/MetricsExporter.h: the endpoint at the address the MetricsAddress setting names: the
// gateway's running figures for Prometheus at /metrics, and the status page (what the window
// shows) at / and as JSON at /status.json. Read-only: GET only, no password.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/GatewayFigures.h"
#include "app/StatusPage.h"
#include "platform/HttpServer.h"
#include "platform/ProcessFigures.h"

namespace prometheus {
struct MetricFamily;
} // namespace prometheus

namespace app {

// The metric families for one reading of the figures and of the process's.
std::vector<prometheus::MetricFamily> metricFamilies(const GatewayFigures& figures,
                                                     const platform::ProcessFigures& process);

class MetricsExporter
{
public:
    // The process's figures, read at each scrape on the server's thread.
    using ProcessReader = std::function<platform::ProcessFigures()>;

    // Starts serving at once, on its own thread. bindAddress is "a.b.c.d:port" (port 0: any
    // free one). Throws std::runtime_error when the address cannot be bound.
    explicit MetricsExporter(const std::string& bindAddress,
                             platform::HttpServerOptions options = {},
                             ProcessReader readProcess = platform::readProcessFigures);
    ~MetricsExporter(); // stops serving; no request is answered afterwards

    MetricsExporter(const MetricsExporter&) = delete;
    MetricsExporter& operator=(const MetricsExporter&) = delete;

    // Any thread. What the next requests answer with (but the process's figures, read afresh):
    // until the first call, all zero and a page with nothing in it.
    void publish(const GatewayFigures& figures, StatusSnapshot status);

    // What is served: the port, and "a.b.c.d:port" with it.
    std::uint16_t port() const;
    std::string address() const;

private:
    // The server's thread. Copies what was published under the lock, renders outside it.
    platform::HttpResponse answer(const platform::HttpRequest& request) const;

    const ProcessReader m_readProcess;
    std::string m_host;
    mutable std::mutex m_mutex;
    GatewayFigures m_figures;                       // guarded by m_mutex
    std::shared_ptr<const StatusSnapshot> m_status; // guarded by m_mutex; never null
    platform::HttpServer m_server;
};

} // namespace app
