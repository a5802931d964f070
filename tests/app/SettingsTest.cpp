// tests/app/SettingsTest.cpp: the [main] settings and the close password.
#include "app/Settings.h"

#include <set>

#include <gtest/gtest.h>

#include "app/Gateway.h"

using platform::IniFile;

TEST(SettingsTest, DefaultsWithoutAFileOrKeys)
{
    app::MainSettings s = app::readMainSettings(IniFile::load("/nonexistent/gpsbridge.ini"));
    EXPECT_EQ(21000, s.port);
    EXPECT_EQ(37, s.firstNumber);
    EXPECT_EQ("", s.caption);
}

TEST(SettingsTest, PortFormsAndItsLow16Bits)
{
    auto port = [](const std::string& v) {
        return app::readMainSettings(IniFile::parse("[MAIN]\ndefaultport=" + v + "\n")).port;
    };
    EXPECT_EQ(21000, port("0x5208"));
    EXPECT_EQ(21000, port("$5208"));
    EXPECT_EQ(21000, port("abc"));
    EXPECT_EQ(4464, port("70000"));
    EXPECT_EQ(21001, port("'21001'"));
    EXPECT_EQ(21002, port(" \"21002\" "));
}

TEST(SettingsTest, FirstNumberIsKeptWholeAndCaptionVerbatim)
{
    app::MainSettings s = app::readMainSettings(
        IniFile::parse("[main]\nFirstNumber=300\nCaption=Диспетчерская 2\nn_abs=1\nLog=0\n"
                       "[port]\nBaudRate=9600\n"));
    EXPECT_EQ(300, s.firstNumber);
    EXPECT_EQ("Диспетчерская 2", s.caption);
}

TEST(SettingsTest, ClosePasswordIsFiveDigitsFrom10000To99998)
{
    std::mt19937 random(12345);
    std::set<std::string> seen;
    for (int i = 0; i < 200000; ++i) {
        std::string p = app::makeClosePassword(random);
        ASSERT_EQ(5u, p.size()) << p;
        int v = std::stoi(p);
        ASSERT_GE(v, 10000);
        ASSERT_LE(v, 99998);
        seen.insert(p);
    }
    EXPECT_GT(seen.size(), 80000u); // spread over the range, not a constant
}

TEST(SettingsTest, MetricsAddressTakesAPortOrAnAddressAndPort)
{
    EXPECT_EQ("127.0.0.1:9464", app::metricsBindAddress("9464"));
    EXPECT_EQ("0.0.0.0:9100", app::metricsBindAddress("0.0.0.0:9100"));
    EXPECT_EQ(std::nullopt, app::metricsBindAddress(""));
    EXPECT_EQ(std::nullopt, app::metricsBindAddress("0"));
    EXPECT_EQ("127.0.0.1:0", app::metricsBindAddress("127.0.0.1:0")); // any free port
    EXPECT_EQ(std::nullopt, app::metricsBindAddress("70000"));
    EXPECT_EQ(std::nullopt, app::metricsBindAddress("localhost:9464"));
    EXPECT_EQ(std::nullopt, app::metricsBindAddress("127.0.0.1:"));
}

TEST(SettingsTest, MetricsAndRetentionAreOffByDefault)
{
    app::MainSettings off = app::readMainSettings(IniFile::parse(""));
    EXPECT_EQ("", off.metricsAddress);
    EXPECT_EQ(0, off.keepDayLogs);
    app::MainSettings on =
        app::readMainSettings(IniFile::parse("[main]\nMetricsAddress=9464\nKeepDayLogs=14\n"));
    EXPECT_EQ("127.0.0.1:9464", on.metricsAddress);
    EXPECT_EQ(14, on.keepDayLogs);
    EXPECT_EQ(0, app::readMainSettings(IniFile::parse("[main]\nKeepDayLogs=-3\n")).keepDayLogs);
}
