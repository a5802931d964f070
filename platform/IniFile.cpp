// platform/IniFile.cpp
#include "platform/IniFile.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

std::string_view trim(std::string_view s)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// Cuts at maxChars characters, counting a UTF-8 sequence as one character so that no
// character is cut in half.
std::string cutValue(std::string_view v, std::size_t maxChars)
{
    std::size_t chars = 0, i = 0;
    while (i < v.size()) {
        if ((static_cast<unsigned char>(v[i]) & 0xC0) != 0x80) {
            if (chars == maxChars)
                break;
            ++chars;
        }
        ++i;
    }
    return std::string(v.substr(0, i));
}

std::optional<std::int64_t> digits(std::string_view s, int base, std::size_t maxDigits)
{
    if (s.empty() || s.size() > maxDigits)
        return std::nullopt;
    std::int64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * base + d;
    }
    return v;
}

} // namespace

IniFile IniFile::load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return IniFile{};
    std::stringstream s;
    s << in.rdbuf();
    return parse(s.str());
}

IniFile IniFile::parse(std::string_view text)
{
    IniFile ini;
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::string section;
    bool inSection = false;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            std::size_t close = line.find(']');
            const std::string_view written = trim(
                line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
            section = lower(written);
            ini.m_sections.emplace_back(written);
            inSection = true;
            continue;
        }
        std::size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos)
            continue;
        std::string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        const std::string_view key = trim(line.substr(0, eq));
        ini.m_entries.push_back(
            {section, lower(key), cutValue(value, kMaxValueLength), std::string(key)});
    }
    return ini;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const
{
    std::string s = lower(section), k = lower(key);
    for (const Entry& e : m_entries)
        if (e.section == s && e.key == k)
            return e.value;
    return std::nullopt;
}

std::vector<std::string> IniFile::keys(std::string_view section) const
{
    const std::string s = lower(section);
    std::vector<std::string> out;
    for (const Entry& e : m_entries)
        if (e.section == s)
            out.push_back(e.writtenKey);
    return out;
}

std::string IniFile::text(std::string_view section, std::string_view key,
                          const std::string& fallback) const
{
    return value(section, key).value_or(fallback);
}

std::optional<std::int32_t> IniFile::parseInteger(std::string_view v)
{
    if (v.size() >= 3 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        auto h = digits(v.substr(2), 16, 8);
        return h ? std::optional<std::int32_t>(static_cast<std::int32_t>(*h)) : std::nullopt;
    }
    if (!v.empty() && v[0] == '$') {
        auto h = digits(v.substr(1), 16, 8);
        return h ? std::optional<std::int32_t>(static_cast<std::int32_t>(*h)) : std::nullopt;
    }
    bool negative = !v.empty() && v[0] == '-';
    if (!v.empty() && (v[0] == '-' || v[0] == '+'))
        v.remove_prefix(1);
    auto d = digits(v, 10, 10);
    if (!d)
        return std::nullopt;
    std::int64_t n = negative ? -*d : *d;
    if (n < INT32_MIN || n > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(n);
}

std::int32_t IniFile::integer(std::string_view section, std::string_view key,
                              std::int32_t fallback) const
{
    auto v = value(section, key);
    if (!v)
        return fallback;
    return parseInteger(*v).value_or(fallback);
}

bool IniFile::boolean(std::string_view section, std::string_view key, bool fallback) const
{
    auto v = value(section, key);
    if (!v)
        return fallback;
    auto n = parseInteger(*v);
    return n ? *n != 0 : fallback;
}

} // namespace platform
