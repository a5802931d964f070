// app/ConfigCheck.h: what gpsbridge.ini resolves to, key by key, and every value in it that did
// not parse or is out of range; for --check-config and the notes at start.
#pragma once

#include <string>
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
    platform::IniFile ini;
};

// Reads the file once. Never fails: a missing or unreadable file gives an empty set.
SettingsFile readSettingsFile(const std::string& path);

using ResolvedSetting = platform::SettingsReader::Resolved;

struct SettingsCheck
{
    std::vector<ResolvedSetting> settings; // every key that has an effect, in file order
    // One line per value that fell back to its default or does not do what it says:
    // "[main] DefaultPort = abc: not an integer; the default 21000 is used".
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
