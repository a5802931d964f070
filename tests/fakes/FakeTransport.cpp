// tests/fakes/FakeTransport.cpp
#include "tests/fakes/FakeTransport.h"

#include <algorithm>

namespace fakes {

using msglink::Bytes;
using msglink::ReceiveStatus;

bool FakeTransport::openLink(const std::string& address, std::uint16_t port)
{
    m_attempts.push_back({address, port});
    m_answerPending = false;
    m_failure = m_refusal;
    m_open = m_refusal.empty();
    if (m_open)
        ++m_connections;
    return m_open;
}

bool FakeTransport::sendFrame(const Bytes& payload)
{
    if (!m_open)
        return false;
    ServerFrame f;
    f.code = msglink::readU32(&payload[msglink::kHeaderCodeOffset]);
    f.number = msglink::readI64(&payload[msglink::kHeaderNumberOffset]);
    f.body.assign(payload.begin() + msglink::kHeaderSize, payload.end());
    f.connection = m_connections;
    m_frames.push_back(f);
    if (f.code == m_failingCode && f.code != 0)
        return false;
    m_pending = m_handler(f);
    m_answerPending = true;
    return true;
}

ReceiveStatus FakeTransport::receiveFrame(Bytes& payload)
{
    payload.clear();
    if (!m_open)
        return ReceiveStatus::NotOpen;
    if (!m_answerPending)
        return ReceiveStatus::TimedOut;
    m_answerPending = false;
    switch (m_pending.kind) {
    case ServerAnswer::Kind::Reply:
        payload = m_pending.bytes;
        return ReceiveStatus::Ok;
    case ServerAnswer::Kind::Silent:
        return ReceiveStatus::TimedOut;
    case ServerAnswer::Kind::Close:
        return ReceiveStatus::Closed;
    case ServerAnswer::Kind::Raw:
        break;
    }
    // Raw bytes: only what the envelope check would say of them.
    const Bytes& raw = m_pending.bytes;
    if (raw.size() < msglink::kEnvelopeSize)
        return ReceiveStatus::ShortEnvelope;
    if (raw[0] != msglink::kEnvelopeMarker && raw[0] != msglink::kEnvelopeMarkerAlt)
        return ReceiveStatus::BadMarker;
    payload.assign(raw.begin() + msglink::kEnvelopeSize, raw.end());
    return payload.empty() ? ReceiveStatus::EmptyPayload : ReceiveStatus::Ok;
}

std::vector<ServerFrame> FakeTransport::framesWithCode(std::uint32_t code) const
{
    std::vector<ServerFrame> out;
    std::copy_if(m_frames.begin(), m_frames.end(), std::back_inserter(out),
                 [code](const ServerFrame& f) { return f.code == code; });
    return out;
}

std::vector<ServerFrame> FakeTransport::framesOn(int connection) const
{
    std::vector<ServerFrame> out;
    std::copy_if(m_frames.begin(), m_frames.end(), std::back_inserter(out),
                 [connection](const ServerFrame& f) { return f.connection == connection; });
    return out;
}

std::vector<std::string> FakeTransport::dataTexts() const
{
    std::vector<std::string> out;
    for (const ServerFrame& f : framesWithCode(msglink::kDataMessage))
        out.push_back(f.text());
    return out;
}

std::size_t FakeTransport::sent(const std::string& text) const
{
    std::vector<std::string> texts = dataTexts();
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
}

} // namespace fakes
