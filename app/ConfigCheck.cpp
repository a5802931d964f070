// app/ConfigCheck.cpp
#include "app/ConfigCheck.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/Files.h"
#include "platform/Utf8.h"

namespace app {

namespace {

std::string fileLine(const SettingsFile& file)
{
    switch (file.state) {
    case SettingsFile::State::Read:
        return "settings: " + file.path;
    case SettingsFile::State::Missing:
        return "settings: " + file.path + " does not exist; every key takes its default";
    case SettingsFile::State::Unreadable:
        break;
    }
    return "settings: " + file.path + " cannot be read (" + file.reason +
           "); every key takes its default";
}

std::string hexByte(unsigned char c)
{
    const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[c >> 4] + digits[c & 0xF];
}

} // namespace

std::string textProblem(std::string_view bytes)
{
    if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
        return "the file is UTF-16; save it as UTF-8";
    // Control characters first: a binary file is not text at all, whatever its bytes.
    std::size_t line = 1;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        line += c == '\n';
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F)
            return "the file is not text (" +
                   (c == 0 ? std::string("a NUL byte") : "control character " + hexByte(c)) +
                   " on line " + std::to_string(line) + ")";
    }
    line = 1;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = platform::utf8SequenceLength(bytes.substr(i));
        if (n == 0)
            return "the file is not UTF-8 (byte " + hexByte(static_cast<unsigned char>(bytes[i])) +
                   " on line " + std::to_string(line) + "); save it as UTF-8";
        line += bytes[i] == '\n';
        i += n;
    }
    return {};
}

SettingsFile readSettingsFile(const std::string& path)
{
    namespace fs = std::filesystem;
    SettingsFile f;
    f.path = path;
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() == fs::file_type::not_found)
        return f;
    f.state = SettingsFile::State::Unreadable;
    fs::file_status target = fs::status(path, ec);
    if (target.type() == fs::file_type::not_found) {
        f.reason = "a link to a file that does not exist";
        return f;
    }
    if (fs::is_directory(target)) {
        f.reason = std::strerror(EISDIR);
        return f;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        f.reason = errno != 0 ? std::strerror(errno) : "cannot be opened";
        return f;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        f.reason = "read error";
        return f;
    }
    f.state = SettingsFile::State::Read;
    f.textProblem = textProblem(text.str());
    f.ini = platform::IniFile::parse(text.str());
    return f;
}

SettingsCheck checkSettings(const platform::IniFile& ini)
{
    return loadSettings(ini).check;
}

Settings loadSettings(const platform::IniFile& ini)
{
    // The readers the gateway runs with, through one reader that notes what they met.
    platform::SettingsReader reader(ini);
    Settings s;
    s.main = readMainSettings(reader);
    s.server = msglink::readServerSettings(reader);
    // After every reader: what none of them read is unknown (the link reads [ServerHost] again
    // before every attempt, but these are the same keys).
    reader.checkNames();
    s.check.settings = reader.resolved();
    s.check.problems = reader.problems();
    return s;
}

Settings loadSettings(const std::string& workingDirectory)
{
    SettingsFile file = readSettingsFile(platform::joinPath(workingDirectory, kSettingsFileName));
    Settings s = loadSettings(file.ini);
    if (!file.textProblem.empty())
        s.check.problems.insert(s.check.problems.begin(), file.textProblem);
    s.file = std::move(file);
    return s;
}

std::vector<std::string> startUpNotes(const SettingsFile& file, const SettingsCheck& check)
{
    std::vector<std::string> notes;
    if (file.state != SettingsFile::State::Read)
        notes.push_back(fileLine(file));
    for (const std::string& p : check.problems)
        notes.push_back("settings: " + p);
    return notes;
}

std::string checkReport(const SettingsFile& file, const SettingsCheck& check)
{
    std::string out = fileLine(file) + "\n";
    for (const ResolvedSetting& s : check.settings)
        out += "  " + s.name + " = " + s.value + "\n";
    if (check.problems.empty() && file.state != SettingsFile::State::Unreadable)
        return out + "no problems\n";
    out += "problems:\n";
    if (file.state == SettingsFile::State::Unreadable)
        out += "  the file cannot be read\n";
    for (const std::string& p : check.problems)
        out += "  " + p + "\n";
    return out;
}

int checkExitStatus(const SettingsFile& file, const SettingsCheck& check)
{
    return file.state == SettingsFile::State::Unreadable || !check.problems.empty() ? 1 : 0;
}

} // namespace app
