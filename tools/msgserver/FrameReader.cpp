// tools/msgserver/FrameReader.cpp
#include "tools/msgserver/FrameReader.h"

namespace msgserver {

namespace {

FrameRead readExactly(platform::SocketHandle s, const std::atomic<bool>& stop, std::uint8_t* out,
                      std::size_t count, int waitSliceMs)
{
    std::size_t have = 0;
    while (have < count) {
        if (stop)
            return FrameRead::Stopped;
        platform::WaitResult w = platform::waitReadable(s, waitSliceMs);
        if (w == platform::WaitResult::TimedOut)
            continue;
        if (w == platform::WaitResult::Failed)
            return FrameRead::Closed;
        platform::RecvResult r = platform::recvOnce(s, out + have, count - have);
        if (r.kind != platform::RecvResult::Kind::Data)
            return FrameRead::Closed;
        have += r.bytes;
    }
    return FrameRead::Frame;
}

} // namespace

FrameRead readFrame(platform::SocketHandle s, const std::atomic<bool>& stop,
                    msglink::Bytes& payload, int waitSliceMs)
{
    payload.clear();
    std::uint8_t envelope[msglink::kEnvelopeSize];
    FrameRead r = readExactly(s, stop, envelope, sizeof envelope, waitSliceMs);
    if (r != FrameRead::Frame)
        return r;
    if (envelope[0] != msglink::kEnvelopeMarker && envelope[0] != msglink::kEnvelopeMarkerAlt)
        return FrameRead::Broken;
    std::int32_t length = msglink::readI32(envelope + msglink::kEnvelopeLengthOffset);
    if (length <= 0 || static_cast<std::size_t>(length) > msglink::kMaxPayloadLength)
        return FrameRead::Broken;
    payload.resize(static_cast<std::size_t>(length));
    r = readExactly(s, stop, payload.data(), payload.size(), waitSliceMs);
    if (r != FrameRead::Frame)
        payload.clear();
    return r;
}

std::optional<std::uint32_t> frameCode(const msglink::Bytes& payload)
{
    if (payload.size() < msglink::kHeaderSize || payload[0] != msglink::kHeaderStartMarker ||
        payload[msglink::kHeaderEndOffset] != msglink::kHeaderEndMarker)
        return std::nullopt;
    return msglink::readU32(&payload[msglink::kHeaderCodeOffset]);
}

msglink::Bytes frameBody(const msglink::Bytes& payload)
{
    if (payload.size() <= msglink::kHeaderSize)
        return {};
    return msglink::Bytes(payload.begin() + msglink::kHeaderSize, payload.end());
}

} // namespace msgserver
