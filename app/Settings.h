// app/Settings.h: the [main] settings that start-up reads from gpsbridge.ini, and the value
// forms they share with the check of the whole file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/IniFile.h"

namespace app {

inline constexpr const char* kSettingsFileName = "gpsbridge.ini";

struct MainSettings
{
    std::uint16_t port = 21000;    // DefaultPort, low 16 bits: 70000 gives 4464
    std::int32_t firstNumber = 37; // FirstNumber, the gateway's number in the suite
    std::string caption;           // caption; empty keeps the default window caption
    std::string metricsAddress;    // MetricsAddress as "a.b.c.d:port"; empty: no endpoint
    std::int32_t keepDayLogs = 0;  // KeepDayLogs: days of day logs kept, today's included;
                                   // 0 keeps them all
};

MainSettings readMainSettings(const platform::IniFile& ini);

// A MetricsAddress value as the endpoint binds it: "9464" is "127.0.0.1:9464", and
// "a.b.c.d:9464" stays. Nothing when the value is neither, or its port is outside 1..65535.
std::optional<std::string> metricsBindAddress(std::string_view value);

} // namespace app
