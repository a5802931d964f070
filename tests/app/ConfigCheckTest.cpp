// tests/app/ConfigCheckTest.cpp: what --check-config and start-up say about gpsbridge.ini.
#include "app/ConfigCheck.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/fakes/TempDir.h"

using platform::IniFile;

namespace {

std::vector<std::string> problemsOf(const std::string& text)
{
    return app::checkSettings(IniFile::parse(text)).problems;
}

std::string valueOf(const std::string& text, const std::string& name)
{
    for (const app::ResolvedSetting& s : app::checkSettings(IniFile::parse(text)).settings)
        if (s.name == name)
            return s.value;
    return "(missing)";
}

} // namespace

TEST(ConfigCheckTest, DefaultsAndGoodValuesRaiseNothing)
{
    EXPECT_TRUE(problemsOf("").empty());
    EXPECT_TRUE(problemsOf("[main]\nDefaultPort=0x5208\nFirstNumber=300\ncaption=Склад\n"
                           "MetricsAddress=9464\nKeepDayLogs=30\n"
                           "[ServerHost]\nAddress=10.0.0.5\nAddress2=127.0.0.1\nPort=$30FF\n"
                           "PacketSize=4000\n")
                    .empty());
    EXPECT_EQ("21000 (default)", valueOf("", "[main] DefaultPort"));
    EXPECT_EQ("21000", valueOf("[main]\nDefaultPort=0x5208\n", "[main] DefaultPort"));
    EXPECT_EQ("not set", valueOf("[ServerHost]\nAddress2=127.0.0.1\n", "[ServerHost] Address2"));
    EXPECT_EQ("127.0.0.1:9464", valueOf("[main]\nMetricsAddress=9464\n", "[main] MetricsAddress"));
    EXPECT_EQ("300 (its low byte, 44, is reported at login)",
              valueOf("[main]\nFirstNumber=300\n", "[main] FirstNumber"));
}

TEST(ConfigCheckTest, ValuesThatDoNotParseAreNamedWithTheDefaultTaken)
{
    auto p = problemsOf("[main]\nDefaultPort=abc\nKeepDayLogs=many\n"
                        "[ServerHost]\nPort=12x\nPacketSize=big\n");
    ASSERT_EQ(4u, p.size());
    EXPECT_EQ("[main] DefaultPort = abc: not an integer; the default 21000 is used", p[0]);
    EXPECT_NE(std::string::npos, p[1].find("[main] KeepDayLogs = many: not an integer"));
    EXPECT_NE(std::string::npos, p[2].find("[ServerHost] Port = 12x: not an integer; the "
                                           "default 12543 is used"));
    EXPECT_NE(std::string::npos, p[3].find("[ServerHost] PacketSize = big"));
}

TEST(ConfigCheckTest, PortsOutsideTheirRangeSayWhatTheLow16BitsGive)
{
    auto p = problemsOf("[main]\nDefaultPort=70000\n[ServerHost]\nPort=-5\n");
    ASSERT_EQ(2u, p.size());
    EXPECT_EQ("[main] DefaultPort = 70000: outside 1..65535; only its low 16 bits count, which "
              "give 4464",
              p[0]);
    EXPECT_NE(std::string::npos, p[1].find("[ServerHost] Port = -5: outside 1..65535"));
    EXPECT_NE(std::string::npos, p[1].find("65531"));
    EXPECT_EQ("4464", valueOf("[main]\nDefaultPort=70000\n", "[main] DefaultPort"));
}

TEST(ConfigCheckTest, ServerAddressesMustBeDottedIPv4)
{
    auto p = problemsOf("[ServerHost]\nAddress=999.1.2.3\nAddress2=msg.example.org\n"
                        "Address3=10.1.2\n");
    ASSERT_EQ(3u, p.size());
    EXPECT_NE(std::string::npos, p[0].find("[ServerHost] Address = 999.1.2.3: not a dotted IPv4"));
    EXPECT_NE(std::string::npos, p[1].find("Address2 = msg.example.org"));
    EXPECT_NE(std::string::npos, p[2].find("Address3 = 10.1.2"));
    EXPECT_EQ(1u, problemsOf("[ServerHost]\nAddress=\n").size());
}

TEST(ConfigCheckTest, NewKeysOutOfRangeAreNamed)
{
    auto p = problemsOf("[main]\nMetricsAddress=localhost:9464\nKeepDayLogs=-1\n"
                        "[ServerHost]\nPacketSize=0\n");
    ASSERT_EQ(3u, p.size());
    EXPECT_NE(std::string::npos, p[0].find("MetricsAddress = localhost:9464"));
    EXPECT_NE(std::string::npos, p[1].find("KeepDayLogs = -1: below 0"));
    EXPECT_NE(std::string::npos, p[2].find("PacketSize = 0: not above 0"));
}

TEST(ConfigCheckTest, FileMissingUnreadableOrALinkToNothing)
{
    fakes::TempDir dir;
    app::SettingsFile missing = app::readSettingsFile(dir.file("gpsbridge.ini"));
    EXPECT_EQ(app::SettingsFile::State::Missing, missing.state);
    EXPECT_EQ(0, app::checkExitStatus(missing, app::checkSettings(missing.ini)));
    ASSERT_EQ(1u, app::startUpNotes(missing, {}).size());
    EXPECT_NE(std::string::npos, app::startUpNotes(missing, {})[0].find("does not exist"));

    std::filesystem::create_directory(dir.file("gpsbridge.ini"));
    app::SettingsFile directory = app::readSettingsFile(dir.file("gpsbridge.ini"));
    EXPECT_EQ(app::SettingsFile::State::Unreadable, directory.state);
    EXPECT_EQ("Is a directory", directory.reason);
    EXPECT_EQ(1, app::checkExitStatus(directory, app::checkSettings(directory.ini)));
    EXPECT_NE(std::string::npos, app::startUpNotes(directory, {})[0].find("cannot be read"));

    std::filesystem::create_symlink(dir.file("gone.ini"), dir.file("linked.ini"));
    app::SettingsFile dangling = app::readSettingsFile(dir.file("linked.ini"));
    EXPECT_EQ(app::SettingsFile::State::Unreadable, dangling.state);
}

TEST(ConfigCheckTest, ReportListsEveryKeyThenTheProblems)
{
    fakes::TempDir dir;
    std::ofstream(dir.file("gpsbridge.ini")) << "[main]\nDefaultPort=abc\n";
    app::SettingsFile file = app::readSettingsFile(dir.file("gpsbridge.ini"));
    ASSERT_EQ(app::SettingsFile::State::Read, file.state);
    app::SettingsCheck check = app::checkSettings(file.ini);
    std::string report = app::checkReport(file, check);
    for (const char* key : {"DefaultPort", "FirstNumber", "caption", "MetricsAddress",
                            "KeepDayLogs", "Address", "Address2", "Address3", "Port", "PacketSize"})
        EXPECT_NE(std::string::npos, report.find(std::string("] ") + key + " = ")) << key;
    EXPECT_NE(std::string::npos, report.find("problems:\n  [main] DefaultPort = abc"));
    EXPECT_EQ(1, app::checkExitStatus(file, check));
    EXPECT_EQ(std::vector<std::string>{"settings: " + check.problems[0]},
              app::startUpNotes(file, check));
}
