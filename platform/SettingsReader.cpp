// platform/SettingsReader.cpp
#include "platform/SettingsReader.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace platform {

namespace {

char lowerChar(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return lowerChar(x) == lowerChar(y); });
}

// The name as the list spells it; null when the list does not hold it.
const std::string* spelling(const std::vector<std::string>& names, std::string_view name)
{
    auto it = std::find_if(names.begin(), names.end(),
                           [name](const std::string& n) { return sameName(n, name); });
    return it == names.end() ? nullptr : &*it;
}

bool holds(const std::vector<std::string>& names, std::string_view name)
{
    return spelling(names, name) != nullptr;
}

// Edits from a to b (a character put in, taken out, changed, or two neighbours swapped), letter
// case aside.
std::size_t editDistance(std::string_view a, std::string_view b)
{
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const char x = lowerChar(a[i - 1]), y = lowerChar(b[j - 1]);
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (x != y)});
            if (i > 1 && j > 1 && x == lowerChar(b[j - 2]) && lowerChar(a[i - 2]) == y)
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// The name nearest to a misspelt one, when it is near enough to be a slip: at most two edits, and
// no more than one for every three of its characters. Nothing when none is.
std::optional<std::string> nearest(std::string_view written, const std::vector<std::string>& names)
{
    std::optional<std::string> best;
    std::size_t bestEdits = 3;
    for (const std::string& name : names) {
        // Lengths more than two apart are more than two edits apart: not worth measuring.
        if (written.size() > name.size() + 2 || name.size() > written.size() + 2)
            continue;
        const std::size_t edits = editDistance(written, name);
        if (edits < bestEdits && edits * 3 <= name.size()) {
            best = name;
            bestEdits = edits;
        }
    }
    return best;
}

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

void SettingsReader::accept(std::string_view section, std::string_view key)
{
    auto known = std::find_if(m_asked.begin(), m_asked.end(),
                              [section](const Section& s) { return sameName(s.name, section); });
    if (known == m_asked.end())
        known = m_asked.insert(m_asked.end(), Section{std::string(section), {}});
    if (!holds(known->keys, key))
        known->keys.emplace_back(key);
}

void SettingsReader::checkNames()
{
    std::vector<std::string> sectionNames, seen;
    for (const Section& s : m_asked)
        sectionNames.push_back(s.name);
    for (const std::string& written : m_ini.sections()) {
        if (holds(seen, written))
            continue;
        seen.push_back(written);
        auto known = std::find_if(m_asked.begin(), m_asked.end(),
                                  [&](const Section& s) { return sameName(s.name, written); });
        if (known != m_asked.end()) {
            checkKeys(written, *known);
            continue;
        }
        std::string line = "[";
        line.append(written).append("]: unknown section, not read");
        if (std::optional<std::string> near = nearest(written, sectionNames))
            line.append("; did you mean [").append(*near).append("]?");
        m_problems.push_back(std::move(line));
    }
}

void SettingsReader::checkKeys(const std::string& written, const Section& section)
{
    std::vector<std::string> seen;
    for (const std::string& key : m_ini.keys(written)) {
        if (holds(section.keys, key) || holds(seen, key))
            continue;
        seen.push_back(key);
        std::string what = "unknown key, not read";
        if (std::optional<std::string> near = nearest(key, section.keys)) {
            what.append("; did you mean ").append(*near).append("?");
        } else {
            // The right key in the wrong section.
            for (const Section& other : m_asked)
                if (const std::string* there = spelling(other.keys, key)) {
                    what.append("; did you mean [").append(other.name).append("] ");
                    what.append(*there).append("?");
                    break;
                }
        }
        problem(written, key, what);
    }
}

std::string SettingsReader::text(std::string_view section, std::string_view key,
                                 const std::string& fallback)
{
    accept(section, key);
    std::string value = m_ini.text(section, key, fallback);
    show(section, key, value);
    return value;
}

std::int32_t SettingsReader::integer(std::string_view section, std::string_view key,
                                     std::int32_t fallback)
{
    accept(section, key);
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
