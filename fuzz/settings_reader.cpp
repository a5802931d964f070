// fuzz/settings_reader.cpp: the settings reader and the settings check over any text.
//
// Input: the text of gpsbridge.ini.
//
// Properties: names match whatever their letter case; a value holds no line break and at most
// 2047 characters; every integer key whose value does not parse is named as a problem, and every
// problem names a key that has an effect or a section or key that no reader reads; the check lists the same keys in the same order
// whatever the text; start-up takes the low 16 bits of the port and never a negative number of
// days, and a metrics address it binds is a dotted address with a port in 1..65535; the exit
// status says whether there were problems; and an integer read back from its own decimal or
// hexadecimal text is the same integer.
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/ConfigCheck.h"
#include "app/Settings.h"
#include "fuzz/FuzzCheck.h"
#include "platform/IniFile.h"
#include "platform/Socket.h"

namespace {

using platform::IniFile;

struct Key
{
    const char* section;
    const char* name;
    bool integer;
};

constexpr Key kKeys[] = {
    {"main", "DefaultPort", true},     {"main", "FirstNumber", true},
    {"main", "caption", false},        {"main", "MetricsAddress", false},
    {"main", "KeepDayLogs", true},     {"main", "IdentifyLimitMs", true},
    {"main", "IdleWorkerMs", true},    {"ServerHost", "Address", false},
    {"ServerHost", "Address2", false}, {"ServerHost", "Address3", false},
    {"ServerHost", "Port", true},      {"ServerHost", "PacketSize", true},
};

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string settingName(const Key& k)
{
    return std::string("[") + k.section + "] " + k.name;
}

std::size_t characters(const std::string& s)
{
    std::size_t n = 0;
    for (char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

bool namesProblem(const std::vector<std::string>& problems, const std::string& start,
                  std::string_view what)
{
    for (const std::string& p : problems)
        if (p.compare(0, start.size(), start) == 0 && p.find(what) != std::string::npos)
            return true;
    return false;
}

void checkKeys(const IniFile& ini, const app::SettingsCheck& check)
{
    for (const Key& k : kKeys) {
        const std::optional<std::string> v = ini.value(k.section, k.name);
        FUZZ_CHECK(v == ini.value(upper(k.section), upper(k.name)),
                   settingName(k) + " depends on letter case");
        if (!v)
            continue;
        FUZZ_CHECK(v->find('\n') == std::string::npos && characters(*v) <= 2047,
                   settingName(k) + " has a line break or more than 2047 characters");
        if (k.integer && !IniFile::parseInteger(*v))
            FUZZ_CHECK(namesProblem(check.problems, settingName(k) + " = ", "not an integer"),
                       settingName(k) + " = " + *v + " does not parse, yet no problem is named");
    }
    for (const std::string& p : check.problems) {
        bool known = p.find(": unknown key, not read") != std::string::npos ||
                     p.find(": unknown section, not read") != std::string::npos;
        for (const Key& k : kKeys)
            known |= p.compare(0, settingName(k).size() + 3, settingName(k) + " = ") == 0;
        FUZZ_CHECK(known, "a problem that names no key: " + p);
    }
    std::size_t i = 0;
    for (const app::ResolvedSetting& s : check.settings)
        FUZZ_CHECK(i < std::size(kKeys) && s.name == settingName(kKeys[i++]),
                   "the check lists " + s.name + " out of place");
    FUZZ_CHECK(i == std::size(kKeys), "the check does not list every key");
}

void checkStartUp(const IniFile& ini)
{
    const app::MainSettings s = app::readMainSettings(ini);
    FUZZ_CHECK(s.port == static_cast<std::uint16_t>(ini.integer("main", "DefaultPort", 21000)),
               "port is not the low 16 bits of DefaultPort");
    FUZZ_CHECK(s.keepDayLogs >= 0, "a negative number of days kept");
    if (s.metricsAddress.empty())
        return;
    const std::size_t colon = s.metricsAddress.rfind(':');
    FUZZ_CHECK(colon != std::string::npos &&
                   platform::isDottedIPv4(std::string_view(s.metricsAddress).substr(0, colon)),
               "metrics address without a dotted address: " + s.metricsAddress);
    const std::optional<std::int32_t> port =
        IniFile::parseInteger(s.metricsAddress.substr(colon + 1));
    FUZZ_CHECK(port && *port >= 1 && *port <= 65535,
               "metrics address with a port outside 1..65535: " + s.metricsAddress);
}

void checkIntegerText(std::string_view text)
{
    const std::optional<std::int32_t> n = IniFile::parseInteger(text);
    if (!n)
        return;
    FUZZ_CHECK(IniFile::parseInteger(std::to_string(*n)) == n,
               std::string(text) + " does not read back from its decimal text");
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<std::uint32_t>(*n));
    FUZZ_CHECK(IniFile::parseInteger(hex) == n,
               std::string(text) + " does not read back from its hexadecimal text");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const IniFile ini = IniFile::parse(text);
    const app::SettingsCheck check = app::checkSettings(ini);
    checkKeys(ini, check);
    checkStartUp(ini);
    checkIntegerText(text);

    app::SettingsFile file;
    file.state = app::SettingsFile::State::Read;
    file.path = "gpsbridge.ini";
    const int status = app::checkExitStatus(file, check);
    FUZZ_CHECK(status == (check.problems.empty() ? 0 : 1), "exit status and problems disagree");
    const std::string report = app::checkReport(file, check);
    const std::string_view clean = "\nno problems\n";
    FUZZ_CHECK((report.size() >= clean.size() &&
                report.compare(report.size() - clean.size(), clean.size(), clean) == 0) ==
                   check.problems.empty(),
               "report and problems disagree");
    FUZZ_CHECK(app::startUpNotes(file, check).size() == check.problems.size(),
               "a start-up note for each problem");
    return 0;
}
