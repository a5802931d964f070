// tools/msgserver/FrameReader.h: reading the gateway's frames on the server side of the link.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "link/FrameFormat.h"
#include "platform/Socket.h"

namespace msgserver {

enum class FrameRead
{
    Frame,  // payload holds the declared number of bytes
    Closed, // the peer ended the connection, or it failed
    Broken, // wrong envelope marker, or a payload length of 0 or less or above the limit
    Stopped // stop was raised while waiting
};

// Reads one envelope and its payload, gathering as many reads as they take. Waits as long as the
// peer needs (the gateway polls while idle), checking stop every waitSliceMs.
FrameRead readFrame(platform::SocketHandle s, const std::atomic<bool>& stop,
                    msglink::Bytes& payload, int waitSliceMs = 100);

// The message code of a payload whose header is readable: at least 18 bytes, start marker 0xFF
// and end marker 0xFE.
std::optional<std::uint32_t> frameCode(const msglink::Bytes& payload);

// The body after the header, whatever the header's length field says.
msglink::Bytes frameBody(const msglink::Bytes& payload);

} // namespace msgserver
