// app/ConfigCheck.cpp
#include "app/ConfigCheck.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "app/Gateway.h"
#include "app/Settings.h"
#include "link/FrameFormat.h"
#include "platform/Socket.h"

namespace app {

namespace {

// "[main] DefaultPort", built by appending (GCC 12 warns wrongly about a chain of + at -O3).
std::string settingName(const char* section, const char* key)
{
    std::string name = "[";
    name.append(section).append("] ").append(key);
    return name;
}

class Checker
{
public:
    explicit Checker(const platform::IniFile& ini) : m_ini(ini) {}

    void show(const char* section, const char* key, const std::string& value)
    {
        const bool fromFile = m_ini.value(section, key).has_value();
        m_out.settings.push_back(
            {settingName(section, key), fromFile ? value : value + " (default)"});
    }

    // The integer as the readers take it; a value that does not parse is a problem.
    std::int32_t integer(const char* section, const char* key, std::int32_t fallback)
    {
        std::optional<std::string> raw = m_ini.value(section, key);
        if (!raw)
            return fallback;
        std::optional<std::int32_t> v = platform::IniFile::parseInteger(*raw);
        if (!v)
            problem(section, key,
                    "not an integer; the default " + std::to_string(fallback) + " is used");
        return v.value_or(fallback);
    }

    void port(const char* section, const char* key, std::int32_t value)
    {
        const auto low = static_cast<std::uint16_t>(value);
        if (value < 1 || value > 65535)
            problem(section, key,
                    "outside 1..65535; only its low 16 bits count, which give " +
                        std::to_string(low) + (low == 0 ? " (any free port)" : ""));
        show(section, key, std::to_string(low));
    }

    void address(const char* section, const char* key, bool unsetAllowed)
    {
        std::string value = m_ini.text(section, key, msglink::kUnsetServerAddress);
        if (unsetAllowed && value == msglink::kUnsetServerAddress) {
            show(section, key, "not set");
            return;
        }
        if (!platform::isDottedIPv4(value))
            problem(section, key,
                    "not a dotted IPv4 address (a.b.c.d); the link cannot "
                    "connect to it");
        show(section, key, value);
    }

    void problem(const char* section, const char* key, const std::string& what)
    {
        std::string line = settingName(section, key);
        line.append(" = ").append(m_ini.text(section, key, "")).append(": ").append(what);
        m_out.problems.push_back(std::move(line));
    }

    const platform::IniFile& ini() const { return m_ini; }
    SettingsCheck take() { return std::move(m_out); }

private:
    const platform::IniFile& m_ini;
    SettingsCheck m_out;
};

void checkMain(Checker& c)
{
    MainSettings s = readMainSettings(c.ini());
    c.port("main", "DefaultPort", c.integer("main", "DefaultPort", MainSettings{}.port));

    std::int32_t number = c.integer("main", "FirstNumber", MainSettings{}.firstNumber);
    std::string shown = std::to_string(number);
    if (number < 0 || number > 255)
        shown += " (its low byte, " + std::to_string(number & 0xFF) + ", is reported at login)";
    c.show("main", "FirstNumber", shown);

    c.show("main", "caption",
           s.caption.empty() ? "empty: \"" + std::string(kDefaultCaption) + "\"" : s.caption);

    std::string metrics = c.ini().text("main", "MetricsAddress", "");
    if (!metrics.empty() && s.metricsAddress.empty())
        c.problem("main", "MetricsAddress",
                  "neither a port nor a.b.c.d:port (port 1..65535); no metrics endpoint");
    c.show("main", "MetricsAddress", s.metricsAddress.empty() ? "off" : s.metricsAddress);

    std::int32_t days = c.integer("main", "KeepDayLogs", 0);
    if (days < 0)
        c.problem("main", "KeepDayLogs", "below 0; every day log is kept");
    c.show("main", "KeepDayLogs",
           s.keepDayLogs == 0 ? "0: every day log is kept" : std::to_string(s.keepDayLogs));
}

void checkServerHost(Checker& c)
{
    c.address("ServerHost", "Address", false);
    c.address("ServerHost", "Address2", true);
    c.address("ServerHost", "Address3", true);
    c.port("ServerHost", "Port", c.integer("ServerHost", "Port", msglink::kDefaultServerPort));
    std::int32_t size = c.integer("ServerHost", "PacketSize", msglink::kDefaultPacketSize);
    if (size <= 0) {
        c.problem("ServerHost", "PacketSize",
                  "not above 0; the default " + std::to_string(msglink::kDefaultPacketSize) +
                      " is used");
        size = msglink::kDefaultPacketSize;
    }
    c.show("ServerHost", "PacketSize", std::to_string(size));
}

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

} // namespace

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
    f.ini = platform::IniFile::parse(text.str());
    return f;
}

SettingsCheck checkSettings(const platform::IniFile& ini)
{
    Checker c(ini);
    checkMain(c);
    checkServerHost(c);
    return c.take();
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
