// tests/app/MetricsExporterTest.cpp: the Prometheus endpoint and the status page, over loopback.
#include "app/MetricsExporter.h"

#include <array>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <stdexcept>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <prometheus/metric_family.h>

#include <gtest/gtest.h>

#include "platform/Socket.h"
#include "tests/app/HttpGet.h"

using fakes::sampleValue;

namespace {

const platform::ProcessFigures kSampleProcess{1.5, 4096, 12, 1024, 1.7e9, 8};

app::GatewayFigures sampleFigures()
{
    platform::Histogram h;
    for (double seconds : {0.004, 0.2, 30.0})
        h.observe(seconds);
    return {.trackersConnected = 12,
            .packetsAcknowledged = 4500,
            .recordsDispatched = 4499,
            .deliveredLive = 4000,
            .deliveredBacklog = 480,
            .reconnects = 3,
            .backlogDepth = 19,
            .backlogOldestAgeSeconds = 42.5,
            .link = app::LinkFigure::Authorised,
            .storedToDelivered = h.snapshot(),
            .refusedWrongChecksum = 7,
            .refusedStalled = 6,
            .refusedQueueFull = 5,
            .refusedWithheld = 4,
            .backlogWriteErrors = 2,
            .resends = 9,
            .linkDrops = {{"no_login", 2}, {"not_a_frame", 0}, {"silence", 7}}};
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every "expr" string anywhere in a Grafana dashboard; each panel's data source must be the
// dashboard's data-source variable.
void collectQueries(const QJsonValue& value, std::vector<std::string>* queries)
{
    if (value.isArray()) {
        for (const QJsonValue& item : value.toArray())
            collectQueries(item, queries);
        return;
    }
    if (!value.isObject())
        return;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (it.key() == "expr")
            queries->push_back(it.value().toString().toStdString());
        else if (it.key() == "datasource" && it.value().isObject())
            EXPECT_EQ("${DS_PROMETHEUS}", it.value().toObject().value("uid").toString());
        else
            collectQueries(it.value(), queries);
    }
}

// The metric names a query text uses: a series of a histogram counts as its family.
std::set<std::string> metricNamesIn(const std::string& text)
{
    static const std::regex name(R"(\b(gpsbridge|process)_[a-z_]+\b)");
    static const std::regex series(R"(_(bucket|sum|count)$)");
    std::set<std::string> names;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), name);
         it != std::sregex_iterator(); ++it)
        names.insert(std::regex_replace(it->str(), series, ""));
    return names;
}

} // namespace

// Every figure as its series, the latency histogram's buckets cumulative up to +Inf.
TEST(MetricsExporterTest, ScrapeAnswersWithThePublishedFigures)
{
    app::MetricsExporter exporter("127.0.0.1:0", {}, [] { return kSampleProcess; });
    ASSERT_NE(0, exporter.port());
    std::string before = fakes::httpGet(exporter.port(), "/metrics");
    ASSERT_EQ(0u, before.find("HTTP/1.1 200")) << before;
    EXPECT_EQ("0", sampleValue(before, "gpsbridge_trackers_connected"));

    exporter.publish(sampleFigures(), {});
    std::string text = fakes::httpGet(exporter.port(), "/metrics");
    for (const char* type : {"gpsbridge_packets_acknowledged_total counter",
                             "gpsbridge_stored_to_delivered_seconds histogram"})
        EXPECT_NE(std::string::npos, text.find(std::string("# TYPE ") + type)) << type;
    const std::vector<std::pair<std::string, std::string>> samples = {
        {"gpsbridge_trackers_connected", "12"},
        {"gpsbridge_packets_acknowledged_total", "4500"},
        {"gpsbridge_records_dispatched_total", "4499"},
        {"gpsbridge_messages_delivered_total{source=\"live\"}", "4000"},
        {"gpsbridge_messages_delivered_total{source=\"backlog\"}", "480"},
        {"gpsbridge_backlog_messages", "19"},
        {"gpsbridge_backlog_oldest_age_seconds", "42.5"},
        {"gpsbridge_link_state", "2"},
        {"gpsbridge_link_reconnects_total", "3"},
        {"gpsbridge_link_drops_total{reason=\"no_login\"}", "2"},
        {"gpsbridge_link_drops_total{reason=\"not_a_frame\"}", "0"},
        {"gpsbridge_link_drops_total{reason=\"silence\"}", "7"},
        {"gpsbridge_packets_refused_total{reason=\"checksum\"}", "7"},
        {"gpsbridge_packets_refused_total{reason=\"stalled\"}", "6"},
        {"gpsbridge_packets_refused_total{reason=\"queue_full\"}", "5"},
        {"gpsbridge_packets_refused_total{reason=\"withheld\"}", "4"},
        {"gpsbridge_backlog_write_errors_total", "2"},
        {"gpsbridge_resends_total", "9"},
        {"process_cpu_seconds_total", "1.5"},
        {"process_resident_memory_bytes", "4096"},
        {"process_open_fds", "12"},
        {"process_max_fds", "1024"},
        {"process_start_time_seconds", "1700000000"},
        {"process_threads", "8"},
        {"gpsbridge_stored_to_delivered_seconds_count", "3"},
        {"gpsbridge_stored_to_delivered_seconds_bucket{le=\"0.001\"}", "0"},
        {"gpsbridge_stored_to_delivered_seconds_bucket{le=\"0.005\"}", "1"},
        {"gpsbridge_stored_to_delivered_seconds_bucket{le=\"0.25\"}", "2"},
        {"gpsbridge_stored_to_delivered_seconds_bucket{le=\"10\"}", "2"},
        {"gpsbridge_stored_to_delivered_seconds_bucket{le=\"30\"}", "3"},
        {"gpsbridge_stored_to_delivered_seconds_bucket{le=\"14400\"}", "3"},
        {"gpsbridge_stored_to_delivered_seconds_bucket{le=\"+Inf\"}", "3"}};
    for (const auto& [series, value] : samples)
        EXPECT_EQ(value, sampleValue(text, series)) << series;
    // The version CMake gave the project.
    EXPECT_NE(std::string::npos,
              text.find("gpsbridge_build_info{version=\"" GPSBRIDGE_FILE_VERSION "\""))
        << text;
}

TEST(MetricsExporterTest, AnAddressInUseOrNotDottedIsRefusedWithAReason)
{
    app::MetricsExporter first("127.0.0.1:0");
    const std::pair<std::string, std::string> rows[] = {{first.address(), "bind: "},
                                                        {"localhost:9464", "not a.b.c.d:port"}};
    for (const auto& [address, reason] : rows) {
        std::string said;
        try {
            app::MetricsExporter second(address);
        } catch (const std::runtime_error& e) {
            said = e.what();
        }
        EXPECT_EQ(0u, said.find(reason)) << address << ": " << said;
    }
}

// The dashboard and the alert rules shipped beside the gateway ask only for metrics it exports:
// a renamed or dropped metric shows here, not as an empty panel or an alert that never fires.
TEST(MetricsExporterTest, DashboardAndAlertRulesUseOnlyExportedMetrics)
{
    std::set<std::string> exported;
    for (const prometheus::MetricFamily& family :
         app::metricFamilies(sampleFigures(), kSampleProcess))
        exported.insert(family.name);

    QJsonParseError error{};
    const std::string dashboard = fileText(GPSBRIDGE_DASHBOARD);
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(dashboard), &error);
    ASSERT_EQ(QJsonParseError::NoError, error.error) << error.errorString().toStdString();
    std::vector<std::string> queries;
    collectQueries(document.object(), &queries);
    EXPECT_GE(queries.size(), 20u);

    const std::string rules = fileText(GPSBRIDGE_ALERT_RULES);
    ASSERT_FALSE(rules.empty());
    queries.push_back(rules);
    std::set<std::string> used;
    for (const std::string& query : queries)
        for (const std::string& name : metricNamesIn(query)) {
            EXPECT_EQ(1u, exported.count(name)) << name << " in " << query;
            used.insert(name);
        }
    // The dashboard's figures and the rules' between them leave none of the gateway's out.
    for (const std::string& name : exported)
        EXPECT_EQ(1u, used.count(name)) << name << " is on no panel and in no rule";
}

TEST(MetricsExporterTest, AnswersOnlyGetsOfItsThreePaths)
{
    app::MetricsExporter exporter("127.0.0.1:0");
    const std::string rest = " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    // The request, the status line it gets and a header that comes with it.
    const std::vector<std::array<std::string, 3>> rows = {
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
    for (const auto& [request, statusLine, header] : rows) {
        SCOPED_TRACE(request.substr(0, 40));
        const std::string response = fakes::httpExchange(exporter.port(), request);
        EXPECT_EQ(0u, response.find(statusLine + "\r\n")) << response.substr(0, 200);
        if (!header.empty()) {
            EXPECT_NE(std::string::npos, response.find("\r\n" + header)) << header;
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
