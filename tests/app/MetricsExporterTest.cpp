// tests/app/MetricsExporterTest.cpp: the Prometheus endpoint and the status page, over loopback.
#include "app/MetricsExporter.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include "platform/Socket.h"
#include "tests/app/HttpGet.h"

using fakes::sampleValue;

namespace {

app::GatewayFigures sampleFigures()
{
    app::GatewayFigures f;
    f.trackersConnected = 12;
    f.packetsAcknowledged = 4500;
    f.recordsDispatched = 4499;
    f.deliveredLive = 4000;
    f.deliveredBacklog = 480;
    f.reconnects = 3;
    f.backlogDepth = 19;
    f.backlogOldestAgeSeconds = 42.5;
    f.link = app::LinkFigure::Authorised;
    platform::Histogram h;
    h.observe(0.004);
    h.observe(0.2);
    h.observe(30);
    f.storedToDelivered = h.snapshot();
    return f;
}

// Each series with the value it must show.
void expectSamples(const std::string& text,
                   const std::vector<std::pair<std::string, std::string>>& expected)
{
    for (const auto& [series, value] : expected)
        EXPECT_EQ(value, sampleValue(text, series)) << series;
}

} // namespace

TEST(MetricsExporterTest, ScrapeAnswersWithThePublishedFigures)
{
    app::MetricsExporter exporter("127.0.0.1:0");
    ASSERT_NE(0, exporter.port());
    std::string before = fakes::httpGet(exporter.port(), "/metrics");
    ASSERT_EQ(0u, before.find("HTTP/1.1 200")) << before;
    EXPECT_EQ("0", sampleValue(before, "gpsbridge_trackers_connected"));

    exporter.publish(sampleFigures(), {});
    std::string text = fakes::httpGet(exporter.port(), "/metrics");
    EXPECT_NE(std::string::npos, text.find("# TYPE gpsbridge_packets_acknowledged_total counter"));
    expectSamples(text, {{"gpsbridge_trackers_connected", "12"},
                         {"gpsbridge_packets_acknowledged_total", "4500"},
                         {"gpsbridge_records_dispatched_total", "4499"},
                         {"gpsbridge_messages_delivered_total{source=\"live\"}", "4000"},
                         {"gpsbridge_messages_delivered_total{source=\"backlog\"}", "480"},
                         {"gpsbridge_backlog_messages", "19"},
                         {"gpsbridge_backlog_oldest_age_seconds", "42.5"},
                         {"gpsbridge_link_state", "2"},
                         {"gpsbridge_link_reconnects_total", "3"}});
}

TEST(MetricsExporterTest, LatencyHistogramHasCumulativeBucketsUpToInfinity)
{
    app::MetricsExporter exporter("127.0.0.1:0");
    exporter.publish(sampleFigures(), {});
    std::string text = fakes::httpGet(exporter.port(), "/metrics");
    EXPECT_NE(std::string::npos,
              text.find("# TYPE gpsbridge_stored_to_delivered_seconds histogram"));
    const std::string bucket = "gpsbridge_stored_to_delivered_seconds_bucket";
    expectSamples(text, {{"gpsbridge_stored_to_delivered_seconds_count", "3"},
                         {bucket + "{le=\"0.001\"}", "0"},
                         {bucket + "{le=\"0.005\"}", "1"},
                         {bucket + "{le=\"0.25\"}", "2"},
                         {bucket + "{le=\"10\"}", "2"},
                         {bucket + "{le=\"+Inf\"}", "3"}});
}

TEST(MetricsExporterTest, AnAddressInUseIsRefusedWithAReason)
{
    app::MetricsExporter first("127.0.0.1:0");
    std::string taken = "127.0.0.1:" + std::to_string(first.port());
    EXPECT_THROW(app::MetricsExporter second(taken), std::runtime_error);
}

TEST(MetricsExporterTest, AnswersOnlyGetsOfItsThreePaths)
{
    app::MetricsExporter exporter("127.0.0.1:0");
    const std::string rest = " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const struct
    {
        std::string request, statusLine, header;
    } rows[] = {
        {"GET /" + rest, "HTTP/1.1 200 OK", "Content-Type: text/html; charset=utf-8"},
        {"GET /status.json?x=1" + rest, "HTTP/1.1 200 OK", "Content-Type: application/json"},
        {"GET /metrics" + rest, "HTTP/1.1 200 OK", "Content-Type: text/plain; version=0.0.4"},
        {"GET /index.html" + rest, "HTTP/1.1 404 Not Found", ""},
        {"POST /" + rest, "HTTP/1.1 405 Method Not Allowed", "Allow: GET"},
        {"HEAD /metrics" + rest, "HTTP/1.1 405 Method Not Allowed", "Allow: GET"},
        {"GET / HTTP/1.1\r\nCookie: " + std::string(7000, 'a') + "\r\n\r\n", "HTTP/1.1 200 OK", ""},
        {"GET / HTTP/1.1\r\nCookie: " + std::string(9000, 'a') + "\r\n\r\n",
         "HTTP/1.1 431 Request Header Fields Too Large", ""},
        {"hello\r\n\r\n", "HTTP/1.1 400 Bad Request", ""},
        {"GET http://127.0.0.1/" + rest, "HTTP/1.1 400 Bad Request", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.request.substr(0, 40));
        const std::string response = fakes::httpExchange(exporter.port(), row.request);
        EXPECT_EQ(0u, response.find(row.statusLine + "\r\n")) << response.substr(0, 200);
        if (!row.header.empty()) {
            EXPECT_NE(std::string::npos, response.find("\r\n" + row.header)) << row.header;
        }
    }
}

TEST(MetricsExporterTest, AnIdleClientIsCutOffAndTheNextOneServed)
{
    platform::HttpServerOptions quick;
    quick.readTimeoutMs = 300;
    app::MetricsExporter exporter("127.0.0.1:0", quick);
    platform::SocketHandle idle = platform::createTcpSocket();
    ASSERT_TRUE(platform::connectWithTimeout(idle, "127.0.0.1", exporter.port(), 2000));
    // Accepted first and sending nothing: it holds the server for the read timeout only.
    EXPECT_EQ(0u, fakes::httpGet(exporter.port(), "/status.json").find("HTTP/1.1 200 OK"));
    char buf[16] = {};
    ASSERT_EQ(platform::WaitResult::Readable, platform::waitReadable(idle, 5000));
    const platform::RecvResult r = platform::recvOnce(idle, buf, 12);
    EXPECT_EQ("HTTP/1.1 408",
              std::string(buf, r.kind == platform::RecvResult::Kind::Data ? r.bytes : 0));
    platform::closeSocket(idle);
}
