// link/Frames.cpp
#include "link/Frames.h"

#include <algorithm>
#include <charconv>
#include <string>

namespace msglink {

namespace {

// A decimal integer with an optional sign, as a 32-bit value; 0 when the text is anything else
// (empty, blanks, letters, out of range).
std::int32_t decimalOrZero(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    std::int32_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return 0;
    return value;
}

} // namespace

Bytes makePayload(std::uint32_t code, const Bytes& body, std::int64_t number)
{
    Bytes p(kHeaderSize + body.size());
    p[0] = kHeaderStartMarker;
    writeU32(&p[kHeaderCodeOffset], code);
    writeU32(&p[kHeaderBodyLengthOffset], static_cast<std::uint32_t>(body.size()));
    writeI64(&p[kHeaderNumberOffset], number);
    p[kHeaderEndOffset] = kHeaderEndMarker;
    std::copy(body.begin(), body.end(), p.begin() + kHeaderSize);
    return p;
}

Bytes buildFrame(MessageCounter& counter, std::uint32_t code, const Bytes& body)
{
    return makePayload(code, body, counter.take());
}

Bytes buildPoll()
{
    return makePayload(kPoll, {}, 0);
}

Bytes wrapInEnvelope(const Bytes& payload)
{
    Bytes wire(kEnvelopeSize + payload.size(), 0);
    wire[0] = kEnvelopeMarker;
    auto length = static_cast<std::uint32_t>(payload.size());
    writeU32(&wire[kEnvelopeLengthOffset], length);
    writeU32(&wire[kEnvelopeLengthCopyOffset], length);
    std::copy(payload.begin(), payload.end(), wire.begin() + kEnvelopeSize);
    return wire;
}

Bytes moduleIdentificationBody()
{
    Bytes b;
    platform::appendU16(b, kModuleCode);
    return b;
}

Bytes portReportBody()
{
    // "COM0" as a length-prefixed text in a 7-byte field, then one zero byte.
    return {0x04, 'C', 'O', 'M', '0', 0x00, 0x00, 0x00};
}

Bytes firstNumberBody(int firstNumber)
{
    return {static_cast<std::uint8_t>(firstNumber & 0xFF)};
}

Bytes versionReportBody(std::string_view fileVersion)
{
    // Major, minor and release end at a dot; the build number is the whole rest, so a fifth
    // part makes the build number invalid, and therefore 0.
    std::array<std::uint16_t, 4> parts{};
    if (fileVersion.find('.') != std::string_view::npos) {
        std::string_view rest = fileVersion;
        for (std::size_t i = 0; i < 4; ++i) {
            std::size_t dot = i < 3 ? rest.find('.') : std::string_view::npos;
            std::string_view part = rest.substr(0, dot);
            parts[i] = static_cast<std::uint16_t>(decimalOrZero(part));
            rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        }
    }
    Bytes b;
    for (std::uint16_t v : parts)
        platform::appendU16(b, v);
    return b;
}

std::array<Message, 4> loginMessages(int firstNumber, std::string_view fileVersion)
{
    return {Message{kModuleIdentification, moduleIdentificationBody()},
            Message{kPortReport, portReportBody()},
            Message{kFirstNumberReport, firstNumberBody(firstNumber)},
            Message{kVersionReport, versionReportBody(fileVersion)}};
}

bool isDeliveryConfirmation(std::uint32_t code)
{
    return std::find(kDeliveryConfirmations.begin(), kDeliveryConfirmations.end(), code) !=
           kDeliveryConfirmations.end();
}

ReplyKind classifyReply(std::uint32_t code)
{
    if (code == kLoginAccepted)
        return ReplyKind::LoginAccepted;
    if (isDeliveryConfirmation(code))
        return ReplyKind::DeliveryConfirmation;
    if (code == kEchoRequest)
        return ReplyKind::EchoRequest;
    if (code == kPollReply)
        return ReplyKind::PollReply;
    if (code == kCloseOrder || code == kCloseOrderAlt)
        return ReplyKind::CloseOrder;
    if (code == kDisconnectCommand)
        return ReplyKind::DisconnectCommand;
    return ReplyKind::Other;
}

std::optional<Reply> checkReply(const Bytes& payload)
{
    if (payload.size() < kHeaderSize || payload[0] != kHeaderStartMarker ||
        payload[kHeaderEndOffset] != kHeaderEndMarker)
        return std::nullopt;
    Reply r;
    r.code = readU32(&payload[kHeaderCodeOffset]);
    r.kind = classifyReply(r.code);
    // The length field only tells "no body" from "some body"; the payload length decides how
    // much, so a wrong field can never point outside what was received.
    if (readI32(&payload[kHeaderBodyLengthOffset]) != 0)
        r.body.assign(payload.begin() + kHeaderSize, payload.end());
    return r;
}

} // namespace msglink
