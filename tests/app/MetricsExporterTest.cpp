// tests/app/MetricsExporterTest.cpp: the Prometheus endpoint, scraped over loopback.
#include "app/MetricsExporter.h"

#include <stdexcept>

#include <gtest/gtest.h>

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
    f.ackToDelivery = h.snapshot();
    return f;
}

} // namespace

TEST(MetricsExporterTest, ScrapeAnswersWithThePublishedFigures)
{
    app::MetricsExporter exporter("127.0.0.1:0");
    ASSERT_NE(0, exporter.port());
    std::string before = fakes::httpGet(exporter.port(), "/metrics");
    ASSERT_EQ(0u, before.find("HTTP/1.1 200")) << before;
    EXPECT_EQ("0", sampleValue(before, "gpsbridge_trackers_connected"));

    exporter.publish(sampleFigures());
    std::string text = fakes::httpGet(exporter.port(), "/metrics");
    EXPECT_NE(std::string::npos, text.find("# TYPE gpsbridge_packets_acknowledged_total counter"));
    EXPECT_EQ("12", sampleValue(text, "gpsbridge_trackers_connected"));
    EXPECT_EQ("4500", sampleValue(text, "gpsbridge_packets_acknowledged_total"));
    EXPECT_EQ("4499", sampleValue(text, "gpsbridge_records_dispatched_total"));
    EXPECT_EQ("4000", sampleValue(text, "gpsbridge_messages_delivered_total{source=\"live\"}"));
    EXPECT_EQ("480", sampleValue(text, "gpsbridge_messages_delivered_total{source=\"backlog\"}"));
    EXPECT_EQ("19", sampleValue(text, "gpsbridge_backlog_messages"));
    EXPECT_EQ("42.5", sampleValue(text, "gpsbridge_backlog_oldest_age_seconds"));
    EXPECT_EQ("2", sampleValue(text, "gpsbridge_link_state"));
    EXPECT_EQ("3", sampleValue(text, "gpsbridge_link_reconnects_total"));
}

TEST(MetricsExporterTest, LatencyHistogramHasCumulativeBucketsUpToInfinity)
{
    app::MetricsExporter exporter("127.0.0.1:0");
    exporter.publish(sampleFigures());
    std::string text = fakes::httpGet(exporter.port(), "/metrics");
    EXPECT_NE(std::string::npos, text.find("# TYPE gpsbridge_ack_to_delivery_seconds histogram"));
    EXPECT_EQ("3", sampleValue(text, "gpsbridge_ack_to_delivery_seconds_count"));
    EXPECT_EQ("0", sampleValue(text, "gpsbridge_ack_to_delivery_seconds_bucket{le=\"0.001\"}"));
    EXPECT_EQ("1", sampleValue(text, "gpsbridge_ack_to_delivery_seconds_bucket{le=\"0.005\"}"));
    EXPECT_EQ("2", sampleValue(text, "gpsbridge_ack_to_delivery_seconds_bucket{le=\"0.25\"}"));
    EXPECT_EQ("2", sampleValue(text, "gpsbridge_ack_to_delivery_seconds_bucket{le=\"10\"}"));
    EXPECT_EQ("3", sampleValue(text, "gpsbridge_ack_to_delivery_seconds_bucket{le=\"+Inf\"}"));
}

TEST(MetricsExporterTest, AnAddressInUseIsRefusedWithAReason)
{
    app::MetricsExporter first("127.0.0.1:0");
    std::string taken = "127.0.0.1:" + std::to_string(first.port());
    EXPECT_THROW(app::MetricsExporter second(taken), std::runtime_error);
}
