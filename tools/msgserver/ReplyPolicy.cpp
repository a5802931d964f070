// tools/msgserver/ReplyPolicy.cpp
#include "tools/msgserver/ReplyPolicy.h"

#include "link/Frames.h"

namespace msgserver {

msglink::Bytes answerPayload(const Answer& answer, std::int64_t number)
{
    msglink::Bytes p = msglink::makePayload(answer.code, answer.body, number);
    if (answer.badEndMarker)
        p[msglink::kHeaderEndOffset] = 0xFD;
    return p;
}

ReplyPolicy::ReplyPolicy(ServerEvents events) : m_events(events) {}

bool ReplyPolicy::fires(const std::optional<std::uint64_t>& after, bool& fired,
                        std::uint64_t before)
{
    if (!after || fired || before < *after)
        return false;
    fired = true;
    return true;
}

Answer ReplyPolicy::answer(std::optional<std::uint32_t> code)
{
    const std::uint64_t before = m_counts.dataMessages;
    ++m_counts.frames;
    if (code == msglink::kDataMessage)
        ++m_counts.dataMessages;
    if (code == msglink::kPoll)
        ++m_counts.polls;

    Answer a;
    if (fires(m_events.dropAfter, m_dropFired, before))
        return Answer{Answer::Kind::Drop, 0, {}, false};
    if (fires(m_events.disconnectAfter, m_disconnectFired, before))
        a.code = msglink::kDisconnectCommand;
    else if (fires(m_events.closeOrderAfter, m_closeOrderFired, before))
        a.code = msglink::kCloseOrder;
    else if (m_events.echoEvery > 0 && m_counts.frames % m_events.echoEvery == 0)
        a.code = msglink::kEchoRequest;
    else
        a = usualAnswer(code);
    a.badEndMarker = m_events.badMarkersAfter && before >= *m_events.badMarkersAfter;
    return a;
}

Answer plainAnswer(std::optional<std::uint32_t> code)
{
    Answer a;
    if (code == msglink::kModuleIdentification) {
        a.code = msglink::kLoginAccepted;
    } else if (code == msglink::kDataMessage) {
        a.code = kDeliveryConfirmation;
    } else {
        // A poll reply carries a count of sub-records; this server has none.
        a.code = msglink::kPollReply;
        a.body = {0};
    }
    return a;
}

Answer ReplyPolicy::usualAnswer(std::optional<std::uint32_t> code)
{
    bool withheld = (code == msglink::kModuleIdentification && m_events.noLogin) ||
                    (code == msglink::kDataMessage && m_events.noConfirm);
    Answer a = plainAnswer(withheld ? std::nullopt : code);
    if (a.code == msglink::kLoginAccepted)
        ++m_counts.logins;
    return a;
}

} // namespace msgserver
