// app/Settings.h: the [main] settings that start-up reads from gpsbridge.ini.
#pragma once

#include <cstdint>
#include <string>

#include "platform/IniFile.h"

namespace app {

inline constexpr const char* kSettingsFileName = "gpsbridge.ini";

struct MainSettings
{
    std::uint16_t port = 21000;    // DefaultPort, low 16 bits: 70000 gives 4464
    std::int32_t firstNumber = 37; // FirstNumber, the gateway's number in the suite
    std::string caption;           // caption; empty keeps the default window caption
};

MainSettings readMainSettings(const platform::IniFile& ini);

} // namespace app
