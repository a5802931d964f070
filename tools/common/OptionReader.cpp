// tools/common/OptionReader.cpp
#include "tools/common/OptionReader.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tools {

std::string readUnsigned(std::string_view option, const std::string& text, std::uint64_t min,
                         std::uint64_t max, std::uint64_t* out)
{
    std::uint64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < min || v > max)
        return "--" + std::string(option) + ": expected a whole number " + std::to_string(min) +
               ".." + std::to_string(max) + ", got '" + text + "'";
    *out = v;
    return {};
}

std::string readDecimal(std::string_view option, const std::string& text, double min, double max,
                        double* out)
{
    double v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(v) || v < min || v > max) {
        auto show = [](double d) {
            std::string s = std::to_string(d);
            s.erase(s.find_last_not_of('0') + 1);
            if (s.back() == '.')
                s.pop_back();
            return s;
        };
        return "--" + std::string(option) + ": expected a number " + show(min) + ".." + show(max) +
               ", got '" + text + "'";
    }
    *out = v;
    return {};
}

std::string versionText(std::string_view tool)
{
    return std::string(tool) + " " GPSBRIDGE_FILE_VERSION "\n";
}

std::optional<int> answerCommandLine(std::string_view tool, const std::string& error, bool help,
                                     bool version, const std::string& usage)
{
    if (!error.empty()) {
        std::fprintf(stderr, "%.*s: %s\n\n%s", static_cast<int>(tool.size()), tool.data(),
                     error.c_str(), usage.c_str());
        return 2;
    }
    if (help || version) {
        std::fputs(help ? usage.c_str() : versionText(tool).c_str(), stdout);
        return 0;
    }
    return std::nullopt;
}

} // namespace tools
