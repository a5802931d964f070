// link/ServerSettings.cpp
#include "link/ServerSettings.h"

#include "platform/Socket.h"

namespace msglink {

namespace {

constexpr const char* kSection = "ServerHost";

std::string address(platform::SettingsReader& reader, const char* key, bool unsetAllowed)
{
    std::string value = reader.text(kSection, key, kUnsetServerAddress);
    if (unsetAllowed && value == kUnsetServerAddress) {
        reader.show(kSection, key, "not set");
        return value;
    }
    if (!platform::isDottedIPv4(value))
        reader.problem(kSection, key,
                       "not a dotted IPv4 address (a.b.c.d); the link cannot connect to it");
    return value;
}

} // namespace

ServerSettings readServerSettings(platform::SettingsReader& reader)
{
    ServerSettings s;
    s.address = address(reader, "Address", false);
    s.address2 = address(reader, "Address2", true);
    s.address3 = address(reader, "Address3", true);
    s.port = reader.port(kSection, "Port", kDefaultServerPort);
    s.packetSize = reader.integer(kSection, "PacketSize", kDefaultPacketSize);
    if (s.packetSize <= 0) {
        reader.problem(kSection, "PacketSize",
                       "not above 0; the default " + std::to_string(kDefaultPacketSize) +
                           " is used");
        s.packetSize = kDefaultPacketSize;
        reader.show(kSection, "PacketSize", std::to_string(s.packetSize));
    }
    return s;
}

ServerSettings loadServerSettings(const std::string& path)
{
    platform::SettingsReader reader(platform::IniFile::load(path));
    return readServerSettings(reader);
}

} // namespace msglink
