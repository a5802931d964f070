// link/FrameFormat.h: the byte layout of the frames exchanged with the message server.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"

namespace msglink {

using platform::Bytes;
using platform::readI32;
using platform::readI64;
using platform::readU32;
using platform::writeI64;
using platform::writeU32;

// Envelope (21 bytes) before every payload: marker, 4 reserved, payload length (signed 32),
// 8 reserved, payload length again. We send zeros in the reserved bytes and ignore them on
// receipt.
inline constexpr std::size_t kEnvelopeSize = 21;
inline constexpr std::size_t kEnvelopeLengthOffset = 5;
inline constexpr std::size_t kEnvelopeLengthCopyOffset = 17;
inline constexpr std::uint8_t kEnvelopeMarker = 0xFF;    // what we send
inline constexpr std::uint8_t kEnvelopeMarkerAlt = 0xF0; // also accepted on receipt

// Message header (18 bytes) at the start of every payload: start marker, code (unsigned 32),
// body length (signed 32), message number (signed 64), end marker. The body follows.
inline constexpr std::size_t kHeaderSize = 18;
inline constexpr std::size_t kHeaderCodeOffset = 1;
inline constexpr std::size_t kHeaderBodyLengthOffset = 5;
inline constexpr std::size_t kHeaderNumberOffset = 9;
inline constexpr std::size_t kHeaderEndOffset = 17;
inline constexpr std::uint8_t kHeaderStartMarker = 0xFF;
inline constexpr std::uint8_t kHeaderEndMarker = 0xFE;

// The server never sends payloads anywhere near this; a larger declared length is a broken
// envelope, refused before anything is allocated.
inline constexpr std::size_t kMaxPayloadLength = 16u * 1024 * 1024;

// Codes we send.
inline constexpr std::uint32_t kModuleIdentification = 0x02000001;
inline constexpr std::uint32_t kPortReport = 0x02200062;
inline constexpr std::uint32_t kFirstNumberReport = 0x02200065;
inline constexpr std::uint32_t kVersionReport = 0x02200063;
inline constexpr std::uint32_t kPoll = 0x02000000;
inline constexpr std::uint32_t kDataMessage = 0x022000C7;
inline constexpr std::uint32_t kEchoReply = 0x02FFFFFF;

// Codes the server sends that we act on.
inline constexpr std::uint32_t kLoginAccepted = 0x02000003;
inline constexpr std::uint32_t kEchoRequest = 0x02000004;
inline constexpr std::uint32_t kPollReply = 0x02000000;
inline constexpr std::uint32_t kCloseOrder = 0x02000005;
inline constexpr std::uint32_t kCloseOrderAlt = 0x02FFFFFE;
inline constexpr std::uint32_t kDisconnectCommand = 0x02FFFFFD;
inline constexpr std::array<std::uint32_t, 27> kDeliveryConfirmations = {
    0x0220002B, 0x03000003, 0x03000005, 0x03000007, 0x03000009, 0x0300000B, 0x0300000D,
    0x03000014, 0x03000016, 0x03000019, 0x0300001D, 0x0300001F, 0x03000021, 0x03000025,
    0x03000029, 0x0300002B, 0x0300002D, 0x0300002F, 0x03000031, 0x03000033, 0x03000037,
    0x0300005C, 0x03000060, 0x03000062, 0x03000064, 0x03000066, 0x03000068};

// Our module code in the module identification body.
inline constexpr std::uint16_t kModuleCode = 54;

// The file version this build reports to the server: the project version the build sets.
inline constexpr std::string_view kFileVersion = GPSBRIDGE_FILE_VERSION;

// Link timings and sizes; the defaults are what the program runs with.
inline constexpr int kReplyWaitMs = 5000;
inline constexpr int kConnectTimeoutMs = 5000;
inline constexpr int kDefaultPacketSize = 2000;
// [ServerHost] defaults: the message server's port, and the address that stands for "not set"
// (Address2 and Address3 with it are not tried).
inline constexpr int kDefaultServerPort = 12543;
inline constexpr const char* kUnsetServerAddress = "127.0.0.1";

} // namespace msglink
