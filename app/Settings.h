// app/Settings.h: the [main] settings that start-up reads from gpsbridge.ini, with the rules the
// settings check reports by.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/IniFile.h"
#include "platform/SettingsReader.h"

namespace app {

inline constexpr const char* kSettingsFileName = "gpsbridge.ini";
inline constexpr const char* kApplicationTitle = "Драйвер GT20v5";
inline constexpr const char* kDefaultCaption = "Тавра 8 - Драйвер GT20v5";

struct MainSettings
{
    std::uint16_t port = 21000;    // DefaultPort, low 16 bits: 70000 gives 4464
    std::int32_t firstNumber = 37; // FirstNumber, the gateway's number in the suite
    std::string caption;           // caption; empty keeps the default window caption
    std::string metricsAddress;    // MetricsAddress as "a.b.c.d:port"; empty: no endpoint
    std::int32_t keepDayLogs = 0;  // KeepDayLogs: days of day logs kept, today's included;
                                   // 0 keeps them all
    // Tuning for tests of the whole program; 0 keeps the shipped value. IdentifyLimitMs: how long
    // a connection may stay without identifying itself; IdleWorkerMs: how long an idle worker
    // beyond the kept few lives.
    std::int32_t identifyLimitMs = 0;
    std::int32_t idleWorkerMs = 0;
};

// Notes on the reader what each key resolved to and what is wrong with it.
MainSettings readMainSettings(platform::SettingsReader& reader);
MainSettings readMainSettings(const platform::IniFile& ini);

// A MetricsAddress value as the endpoint binds it: "9464" is "127.0.0.1:9464", and
// "a.b.c.d:9464" stays. Nothing when the value is neither, or its port is outside 1..65535.
std::optional<std::string> metricsBindAddress(std::string_view value);

} // namespace app
