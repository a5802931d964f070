// platform/IniFile.h: a read-only settings file of [section] headers and key=value lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Section and key names match without regard to letter case; where a key stands twice, the
// first counts. Blanks around names and values are dropped, then
// one pair of matching single or double quotes around a value, then the value is cut at 2047
// characters. The file is read once, when loaded, and never written.
class IniFile
{
public:
    static constexpr std::size_t kMaxValueLength = 2047;

    // A missing or unreadable file gives an empty settings set: every key takes its default.
    static IniFile load(const std::string& path);
    static IniFile parse(std::string_view text);

    // The value, or nothing when the section or key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    std::string text(std::string_view section, std::string_view key,
                     const std::string& fallback) const;

    // Decimal (with an optional sign), or hexadecimal after "0x"/"0X" (three or more
    // characters in all) or "$"; hexadecimal takes up to eight digits as a 32-bit pattern.
    // A missing value, one that does not parse whole or one out of 32-bit range gives fallback.
    std::int32_t integer(std::string_view section, std::string_view key,
                         std::int32_t fallback) const;

    // An integer: 0 is false, any other number true.
    bool boolean(std::string_view section, std::string_view key, bool fallback) const;

    // The integer parse alone, for values from elsewhere.
    static std::optional<std::int32_t> parseInteger(std::string_view value);

    // Every section header as written, in file order (one that stands twice, twice).
    const std::vector<std::string>& sections() const { return m_sections; }
    // The keys under every header of that section (any letter case), as written, in file order.
    std::vector<std::string> keys(std::string_view section) const;

private:
    struct Entry
    {
        std::string section; // lower case
        std::string key;     // lower case
        std::string value;
        std::string writtenKey;
    };
    std::vector<Entry> m_entries;
    std::vector<std::string> m_sections;
};

} // namespace platform
