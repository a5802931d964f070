// app/ConfigCheck.h: what gpsbridge.ini resolves to, key by key, and every value in it that did
// not parse or is out of range; for --check-config and the notes at start.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/Settings.h"
#include "link/ServerSettings.h"
#include "platform/IniFile.h"
#include "platform/SettingsReader.h"

namespace app {

struct SettingsFile
{
    enum class State
    {
        Read,
        Missing,   // every key takes its default, as designed
        Unreadable // likewise, but surely not what was meant
    };
    State state = State::Missing;
    std::string path;
    std::string reason; // the system's reason when unreadable
    // Why the file read is not UTF-8 text: "the file is not UTF-8 (...)"; empty when it is.
    std::string textProblem;
    platform::IniFile ini;
};

// Reads the file once. Never fails: a missing or unreadable file gives an empty set.
SettingsFile readSettingsFile(const std::string& path);

// Why these bytes are not a settings file's text: "the file is not text (a NUL byte on line 1)"
// when they hold control characters other than tab, carriage return and line feed (a binary
// file), "the file is UTF-16 ..." or "the file is not UTF-8 (...)"; empty when they are UTF-8
// text.
std::string textProblem(std::string_view bytes);

using ResolvedSetting = platform::SettingsReader::Resolved;

struct SettingsCheck
{
    std::vector<ResolvedSetting> settings; // every key that has an effect, in file order
    // One line per value that fell back to its default or does not do what it says:
    // "[main] DefaultPort = abc: not an integer; the default 21000 is used"; per section or key
    // that no reader reads: "[main] DefaultPortt = 1: unknown key, not read; did you mean
    // DefaultPort?"; and the file's text problem first, when it has one.
    std::vector<std::string> problems;
};

// The settings file read once: what the gateway runs with, section by section, and what the
// check says of it.
struct Settings
{
    SettingsFile file;
    MainSettings main;
    msglink::ServerSettings server;
    SettingsCheck check;
};

// gpsbridge.ini in the working directory. Never fails: a missing or unreadable file gives the
// defaults.
Settings loadSettings(const std::string& workingDirectory);
// The readers the gateway and the message-server client run with, over these keys.
Settings loadSettings(const platform::IniFile& ini);
SettingsCheck checkSettings(const platform::IniFile& ini);

// What start-up says on standard error: the file's state when it was not read, then every
// problem. Empty when all is well.
std::vector<std::string> startUpNotes(const SettingsFile& file, const SettingsCheck& check);

// The --check-config report.
std::string checkReport(const SettingsFile& file, const SettingsCheck& check);

// The --check-config exit status: 0 when the file was read or is missing and nothing is
// wrong, 1 otherwise.
int checkExitStatus(const SettingsFile& file, const SettingsCheck& check);

} // namespace app
