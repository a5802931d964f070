// tests/app/ConfigCheckTest.cpp: what --check-config and start-up say about gpsbridge.ini.
#include "app/ConfigCheck.h"

#include <array>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/fakes/TempDir.h"

using platform::IniFile;

TEST(ConfigCheckTest, ResolvedValuesSayHowTheyWereTaken)
{
    // The file's text, a setting's name and what it resolves to.
    const std::vector<std::array<std::string, 3>> rows = {
        {"", "[main] DefaultPort", "21000 (default)"},
        {"[main]\nDefaultPort=0x5208\n", "[main] DefaultPort", "21000"},
        {"[main]\nDefaultPort=70000\n", "[main] DefaultPort", "4464"},
        {"[ServerHost]\nAddress2=127.0.0.1\n", "[ServerHost] Address2", "not set"},
        {"[main]\nMetricsAddress=9464\n", "[main] MetricsAddress", "127.0.0.1:9464"},
        {"[main]\nFirstNumber=300\n", "[main] FirstNumber",
         "300 (its low byte, 44, is reported at login)"},
    };
    for (const auto& [text, name, value] : rows) {
        SCOPED_TRACE(text);
        std::string resolved = "(missing)";
        for (const app::ResolvedSetting& s : app::checkSettings(IniFile::parse(text)).settings)
            if (s.name == name)
                resolved = s.value;
        EXPECT_EQ(value, resolved);
    }
}

// Each problem, in order, names its key and value, why it was not taken and what is used instead;
// a key or section it does not know is named with the nearest known one.
TEST(ConfigCheckTest, ProblemsNameTheKeyTheValueAndWhatIsUsed)
{
    const std::string notInteger = ": not an integer; the default ";
    const std::string lowBits = ": outside 1..65535; only its low 16 bits count, which give ";
    const std::string notIpv4 =
        ": not a dotted IPv4 address (a.b.c.d); the link cannot connect to it";
    const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
        {"", {}},
        {"[main]\nDefaultPort=0x5208\nFirstNumber=300\ncaption=Склад\nMetricsAddress=9464\n"
         "KeepDayLogs=30\n[ServerHost]\nAddress=10.0.0.5\nAddress2=127.0.0.1\nPort=$30FF\n"
         "PacketSize=4000\n",
         {}},
        {"[main]\nDefaultPort=abc\nKeepDayLogs=many\n[ServerHost]\nPort=12x\nPacketSize=big\n",
         {"[main] DefaultPort = abc" + notInteger + "21000 is used",
          "[main] KeepDayLogs = many" + notInteger + "0 is used",
          "[ServerHost] Port = 12x" + notInteger + "12543 is used",
          "[ServerHost] PacketSize = big" + notInteger + "2000 is used"}},
        {"[main]\nDefaultPort=70000\n[ServerHost]\nPort=-5\n",
         {"[main] DefaultPort = 70000" + lowBits + "4464",
          "[ServerHost] Port = -5" + lowBits + "65531"}},
        {"[ServerHost]\nAddress=999.1.2.3\nAddress2=msg.example.org\nAddress3=10.1.2\n",
         {"[ServerHost] Address = 999.1.2.3" + notIpv4,
          "[ServerHost] Address2 = msg.example.org" + notIpv4,
          "[ServerHost] Address3 = 10.1.2" + notIpv4}},
        {"[ServerHost]\nAddress=\n", {"[ServerHost] Address = " + notIpv4}},
        {"[main]\nMetricsAddress=localhost:9464\nKeepDayLogs=-1\n[ServerHost]\nPacketSize=0\n",
         {"[main] MetricsAddress = localhost:9464: neither a port (1..65535) nor a.b.c.d:port "
          "(0 for any free one); no metrics endpoint",
          "[main] KeepDayLogs = -1: below 0; every day log is kept",
          "[ServerHost] PacketSize = 0: not above 0; the default 2000 is used"}},
        {"[main]\nDefaultPortt=21001\n",
         {"[main] DefaultPortt = 21001: unknown key, not read; did you mean DefaultPort?"}},
        {"[main]\nmetricaddres=9464\nFirstNubmer=3\n",
         {"[main] metricaddres = 9464: unknown key, not read; did you mean MetricsAddress?",
          "[main] FirstNubmer = 3: unknown key, not read; did you mean FirstNumber?"}},
        {"[ServerHst]\nPort=1\n[Weird]\n",
         {"[ServerHst]: unknown section, not read; did you mean [ServerHost]?",
          "[Weird]: unknown section, not read"}},
        {"[main]\nPort=1\nFrobnicate=1\nFrobnicate=2\n",
         {"[main] Port = 1: unknown key, not read; did you mean [ServerHost] Port?",
          "[main] Frobnicate = 1: unknown key, not read"}},
        {"[MAIN]\ndefaultport=1\nn_abs=1\nLog=0\n[port]\nBaudRate=9600\n"
         "[serverhost]\naddress3=10.0.0.1\nport=12543\n",
         {}},
    };
    for (const auto& [text, expected] : rows) {
        SCOPED_TRACE(text);
        EXPECT_EQ(expected, app::checkSettings(IniFile::parse(text)).problems);
    }
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

TEST(ConfigCheckTest, AFileThatIsNotUtf8TextIsSaidToBeSo)
{
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"\xEF\xBB\xBF[main]\r\ncaption=\tСклад \xF0\x9F\x9A\x9A\r\n", ""},
        {"[main]\ncaption=\xD1\xEA\xEB\xE0\xE4\n",
         "the file is not UTF-8 (byte 0xD1 on line 2); save it as UTF-8"},
        {"a=\xC0\xAF", "the file is not UTF-8 (byte 0xC0 on line 1); save it as UTF-8"},
        {"a=\xED\xA0\x80", "the file is not UTF-8 (byte 0xED on line 1); save it as UTF-8"},
        {"a=\xE2\x82", "the file is not UTF-8 (byte 0xE2 on line 1); save it as UTF-8"},
        {std::string("[main]\nx\0y", 10), "the file is not text (a NUL byte on line 2)"},
        {"\xD1\n\n\x1B[0m", "the file is not text (control character 0x1B on line 3)"},
        {"\xFF\xFE[", "the file is UTF-16; save it as UTF-8"},
    };
    for (const auto& [bytes, expected] : rows) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(expected, app::textProblem(bytes));
    }
    fakes::TempDir dir;
    std::ofstream(dir.file("gpsbridge.ini")) << "[main]\ncaption=\xD1\xEA\n";
    const app::Settings settings = app::loadSettings(dir.path());
    ASSERT_FALSE(settings.check.problems.empty());
    EXPECT_EQ(rows[1].second, settings.check.problems[0]);
    EXPECT_EQ(1, app::checkExitStatus(settings.file, settings.check));
}
