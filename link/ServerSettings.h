// link/ServerSettings.h: the [ServerHost] section of gpsbridge.ini: where the message server is
// and the link's first receive chunk.
#pragma once

#include <cstdint>
#include <string>

#include "link/FrameFormat.h"
#include "platform/SettingsReader.h"

namespace msglink {

struct ServerSettings
{
    // Address2 and Address3 written as "127.0.0.1", like missing ones, count as not set.
    std::string address = kUnsetServerAddress;
    std::string address2 = kUnsetServerAddress;
    std::string address3 = kUnsetServerAddress;
    std::uint16_t port = kDefaultServerPort; // low 16 bits: 70000 gives 4464
    int packetSize = kDefaultPacketSize;     // never 0 or below
};

// Notes on the reader what each key resolved to and what is wrong with it.
ServerSettings readServerSettings(platform::SettingsReader& reader);

// The section as the file at path holds it now (the link reads it before every attempt); a
// missing or unreadable file gives the defaults.
ServerSettings loadServerSettings(const std::string& path);

} // namespace msglink
