// app/Settings.cpp
#include "app/Settings.h"

#include <algorithm>

#include "platform/Socket.h"
#include "tracker/ListenerOptions.h"

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

namespace {

constexpr const char* kSection = "main";

std::int32_t firstNumber(platform::SettingsReader& reader)
{
    const std::int32_t number = reader.integer(kSection, "FirstNumber", MainSettings{}.firstNumber);
    if (number < 0 || number > 255)
        reader.show(kSection, "FirstNumber",
                    std::to_string(number) + " (its low byte, " + std::to_string(number & 0xFF) +
                        ", is reported at login)");
    return number;
}

std::string metricsAddress(platform::SettingsReader& reader)
{
    const std::string raw = reader.text(kSection, "MetricsAddress", "");
    const std::string address = metricsBindAddress(raw).value_or("");
    if (!raw.empty() && address.empty())
        reader.problem(kSection, "MetricsAddress",
                       "neither a port (1..65535) nor a.b.c.d:port (0 for any free one); "
                       "no metrics endpoint");
    reader.show(kSection, "MetricsAddress", address.empty() ? "off" : address);
    return address;
}

std::int32_t keepDayLogs(platform::SettingsReader& reader)
{
    const std::int32_t days = reader.integer(kSection, "KeepDayLogs", 0);
    if (days < 0)
        reader.problem(kSection, "KeepDayLogs", "below 0; every day log is kept");
    if (days <= 0)
        reader.show(kSection, "KeepDayLogs", "0: every day log is kept");
    return std::max(0, days);
}

// A tuning value: one that is not above 0 keeps the shipped value.
std::int32_t tuning(platform::SettingsReader& reader, const char* key, int shipped)
{
    const std::int32_t value = reader.integer(kSection, key, 0);
    reader.show(kSection, key, std::to_string(value > 0 ? value : shipped));
    return std::max(0, value);
}

} // namespace

MainSettings readMainSettings(platform::SettingsReader& reader)
{
    MainSettings s;
    s.port = reader.port(kSection, "DefaultPort", s.port);
    s.firstNumber = firstNumber(reader);
    s.caption = reader.text(kSection, "caption", "");
    if (s.caption.empty())
        reader.show(kSection, "caption", "empty: \"" + std::string(kDefaultCaption) + "\"");
    s.metricsAddress = metricsAddress(reader);
    s.keepDayLogs = keepDayLogs(reader);
    const tracker::ListenerOptions shipped;
    s.identifyLimitMs =
        tuning(reader, "IdentifyLimitMs", static_cast<int>(shipped.identifyLimitMs));
    s.idleWorkerMs = tuning(reader, "IdleWorkerMs", shipped.idleWorkerMs);
    // Older settings files carry these; they have no effect, and are no misspellings either.
    for (const char* key : {"n_abs", "name", "NotSendInfOko", "Keyboard", "PathForSoob",
                            "LogKestor", "NetTest", "Log", "Stat"})
        reader.accept(kSection, key);
    reader.accept("port", "BaudRate");
    return s;
}

MainSettings readMainSettings(const platform::IniFile& ini)
{
    platform::SettingsReader reader(ini);
    return readMainSettings(reader);
}

std::optional<std::string> metricsBindAddress(std::string_view value)
{
    std::size_t colon = value.rfind(':');
    std::string_view host =
        colon == std::string_view::npos ? std::string_view("127.0.0.1") : value.substr(0, colon);
    std::string_view portText = colon == std::string_view::npos ? value : value.substr(colon + 1);
    std::optional<int> port = decimal(portText, 5);
    // Port 0 (any free one, which the start-up note names) only with an address given: a bare
    // "0" reads as "off" too easily.
    const int lowest = colon == std::string_view::npos ? 1 : 0;
    if (!port || *port < lowest || *port > 65535 || !platform::isDottedIPv4(host))
        return std::nullopt;
    return std::string(host) + ":" + std::to_string(*port);
}

} // namespace app
