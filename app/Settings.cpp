// app/Settings.cpp
#include "app/Settings.h"

#include <algorithm>

#include "platform/Socket.h"

namespace app {

namespace {

// A whole decimal number of at most maxDigits digits.
std::optional<int> decimal(std::string_view s, std::size_t maxDigits)
{
    if (s.empty() || s.size() > maxDigits ||
        !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return v;
}

} // namespace

MainSettings readMainSettings(const platform::IniFile& ini)
{
    MainSettings s;
    s.firstNumber = ini.integer("main", "FirstNumber", s.firstNumber);
    s.port = static_cast<std::uint16_t>(ini.integer("main", "DefaultPort", s.port));
    s.caption = ini.text("main", "caption", "");
    s.metricsAddress = metricsBindAddress(ini.text("main", "MetricsAddress", "")).value_or("");
    s.keepDayLogs = std::max(0, ini.integer("main", "KeepDayLogs", s.keepDayLogs));
    return s;
}

std::optional<std::string> metricsBindAddress(std::string_view value)
{
    std::size_t colon = value.rfind(':');
    std::string_view host =
        colon == std::string_view::npos ? std::string_view("127.0.0.1") : value.substr(0, colon);
    std::string_view portText = colon == std::string_view::npos ? value : value.substr(colon + 1);
    std::optional<int> port = decimal(portText, 5);
    if (!port || *port < 1 || *port > 65535 || !platform::isDottedIPv4(host))
        return std::nullopt;
    return std::string(host) + ":" + std::to_string(*port);
}

} // namespace app
