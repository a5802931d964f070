// platform/SettingsReader.h: typed values from the settings file, with a note of what every key
// read resolved to and of every value that does not do what it says. The gateway's readers and
// the settings check share it, so both apply the same rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/IniFile.h"

namespace platform {

class SettingsReader
{
public:
    struct Resolved
    {
        std::string name;  // "[main] DefaultPort"
        std::string value; // what the gateway uses, "(default)" when the file does not set it
    };

    explicit SettingsReader(IniFile ini) : m_ini(std::move(ini)) {}

    const IniFile& ini() const { return m_ini; }

    // The value, or fallback when the key is missing.
    std::string text(std::string_view section, std::string_view key, const std::string& fallback);

    // As IniFile::integer; a value that does not parse is a problem, and fallback is used.
    std::int32_t integer(std::string_view section, std::string_view key, std::int32_t fallback);

    // A TCP port: the integer's low 16 bits; a value outside 1..65535 is a problem.
    std::uint16_t port(std::string_view section, std::string_view key, std::int32_t fallback);

    // What the check shows for a key read before (replacing the value noted by the read).
    void show(std::string_view section, std::string_view key, const std::string& value);

    // A value that does not do what it says: "[main] DefaultPort = abc: <what>".
    void problem(std::string_view section, std::string_view key, const std::string& what);

    // A key that may stand in the file without having an effect (older files carry it): known,
    // so that the name check does not call it unknown.
    void accept(std::string_view section, std::string_view key);

    // Once every reader has read: a problem for every section and key of the file that no reader
    // asked for, with the nearest name that one did ask for, when one is near enough to be a
    // slip of the keyboard.
    void checkNames();

    const std::vector<Resolved>& resolved() const { return m_resolved; }
    const std::vector<std::string>& problems() const { return m_problems; }

private:
    // Sections and keys asked for so far, as the readers spell them, in reading order.
    struct Section
    {
        std::string name;
        std::vector<std::string> keys;
    };

    void checkKeys(const std::string& written, const Section& section);

    IniFile m_ini;
    std::vector<Section> m_asked;
    std::vector<Resolved> m_resolved;
    std::vector<std::string> m_problems;
};

} // namespace platform
