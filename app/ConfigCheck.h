// app/ConfigCheck.h: what gpsbridge.ini resolves to, key by key, and every value in it that did
// not parse or is out of range; for --check-config and the notes at start.
#pragma once

#include <string>
#include <vector>

#include "platform/IniFile.h"

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

struct ResolvedSetting
{
    std::string name;  // "[main] DefaultPort"
    std::string value; // what the gateway uses, with a word on how it got there
};

struct SettingsCheck
{
    std::vector<ResolvedSetting> settings; // every key that has an effect, in file order
    // One line per value that fell back to its default or does not do what it says:
    // "[main] DefaultPort = abc: not an integer; the default 21000 is used".
    std::vector<std::string> problems;
};

// The same rules the gateway and the message-server client apply when they read the keys.
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
