// platform/SettingsReader.cpp
#include "platform/SettingsReader.h"

namespace platform {

namespace {

// "[main] DefaultPort", built by appending (GCC 12 warns wrongly about a chain of + at -O3).
std::string settingName(std::string_view section, std::string_view key)
{
    std::string name = "[";
    name.append(section).append("] ").append(key);
    return name;
}

} // namespace

void SettingsReader::show(std::string_view section, std::string_view key, const std::string& value)
{
    const std::string name = settingName(section, key);
    const std::string shown = m_ini.value(section, key) ? value : value + " (default)";
    for (Resolved& r : m_resolved)
        if (r.name == name) {
            r.value = shown;
            return;
        }
    m_resolved.push_back({name, shown});
}

void SettingsReader::problem(std::string_view section, std::string_view key,
                             const std::string& what)
{
    std::string line = settingName(section, key);
    line.append(" = ").append(m_ini.text(section, key, "")).append(": ").append(what);
    m_problems.push_back(std::move(line));
}

std::string SettingsReader::text(std::string_view section, std::string_view key,
                                 const std::string& fallback)
{
    std::string value = m_ini.text(section, key, fallback);
    show(section, key, value);
    return value;
}

std::int32_t SettingsReader::integer(std::string_view section, std::string_view key,
                                     std::int32_t fallback)
{
    std::int32_t value = fallback;
    if (std::optional<std::string> raw = m_ini.value(section, key)) {
        std::optional<std::int32_t> parsed = IniFile::parseInteger(*raw);
        if (!parsed)
            problem(section, key,
                    "not an integer; the default " + std::to_string(fallback) + " is used");
        value = parsed.value_or(fallback);
    }
    show(section, key, std::to_string(value));
    return value;
}

std::uint16_t SettingsReader::port(std::string_view section, std::string_view key,
                                   std::int32_t fallback)
{
    const std::int32_t value = integer(section, key, fallback);
    const auto low = static_cast<std::uint16_t>(value);
    if (value < 1 || value > 65535)
        problem(section, key,
                "outside 1..65535; only its low 16 bits count, which give " + std::to_string(low) +
                    (low == 0 ? " (any free port)" : ""));
    show(section, key, std::to_string(low));
    return low;
}

} // namespace platform
