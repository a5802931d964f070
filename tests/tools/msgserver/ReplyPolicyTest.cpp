// tests/tools/msgserver/ReplyPolicyTest.cpp: the test server's answer to each frame, with and
// without injected events, and its counts.
#include "tools/msgserver/ReplyPolicy.h"

#include <gtest/gtest.h>

#include "link/Frames.h"

using namespace msgserver;
using namespace msglink;

namespace {

constexpr std::uint32_t kPortReportCode = 0x02200062;

// The codes answered to a run of frames; 0 stands for a closed socket.
std::vector<std::uint32_t> answers(ReplyPolicy& policy, const std::vector<std::uint32_t>& codes)
{
    std::vector<std::uint32_t> out;
    for (std::uint32_t c : codes) {
        Answer a = policy.answer(c);
        out.push_back(a.kind == Answer::Kind::Drop ? 0 : a.code);
    }
    return out;
}

} // namespace

TEST(ReplyPolicyTest, UsualAnswersAndCounts)
{
    ReplyPolicy policy;
    policy.connectionAccepted();
    Answer login = policy.answer(kModuleIdentification);
    EXPECT_EQ(kLoginAccepted, login.code);
    EXPECT_TRUE(login.body.empty());
    Answer poll = policy.answer(kPoll);
    EXPECT_EQ(kPollReply, poll.code);
    EXPECT_EQ(Bytes{0}, poll.body);
    EXPECT_EQ(kDeliveryConfirmation, policy.answer(kDataMessage).code);
    EXPECT_TRUE(isDeliveryConfirmation(kDeliveryConfirmation));
    EXPECT_EQ(kPollReply, policy.answer(kPortReport).code);
    EXPECT_EQ(kPollReply, policy.answer(kEchoReply).code);
    Answer unreadable = policy.answer(std::nullopt);
    EXPECT_EQ(kPollReply, unreadable.code);
    EXPECT_EQ(Answer::Kind::Reply, unreadable.kind);

    const Counts& c = policy.counts();
    EXPECT_EQ(1u, c.connections);
    EXPECT_EQ(6u, c.frames);
    EXPECT_EQ(1u, c.logins);
    EXPECT_EQ(1u, c.dataMessages);
    EXPECT_EQ(1u, c.polls);
}

TEST(ReplyPolicyTest, WithheldLoginAndConfirmationsBecomePollReplies)
{
    ServerEvents e;
    e.noLogin = true;
    e.noConfirm = true;
    ReplyPolicy policy(e);
    EXPECT_EQ((std::vector<std::uint32_t>{kPollReply, kPollReply, kPollReply}),
              answers(policy, {kModuleIdentification, kDataMessage, kPoll}));
    EXPECT_EQ(0u, policy.counts().logins);
    EXPECT_EQ(1u, policy.counts().dataMessages);
}

TEST(ReplyPolicyTest, EveryNthFrameGetsAnEchoRequest)
{
    ServerEvents e;
    e.echoEvery = 3;
    ReplyPolicy policy(e);
    EXPECT_EQ((std::vector<std::uint32_t>{kLoginAccepted, kPollReply, kEchoRequest, kPollReply,
                                          kDeliveryConfirmation, kEchoRequest}),
              answers(policy, {kModuleIdentification, kPortReportCode, kPoll, kEchoReply,
                               kDataMessage, kDataMessage}));
}

TEST(ReplyPolicyTest, OnceEventsAnswerTheFirstFrameAfterTheirDataMessages)
{
    ServerEvents e;
    e.closeOrderAfter = 2;
    ReplyPolicy policy(e);
    // The second data message is still confirmed; the poll after it gets the close order, once.
    EXPECT_EQ((std::vector<std::uint32_t>{kDeliveryConfirmation, kDeliveryConfirmation, kCloseOrder,
                                          kPollReply, kDeliveryConfirmation}),
              answers(policy, {kDataMessage, kDataMessage, kPoll, kPoll, kDataMessage}));

    ServerEvents fromStart;
    fromStart.disconnectAfter = 0;
    ReplyPolicy first(fromStart);
    EXPECT_EQ((std::vector<std::uint32_t>{kDisconnectCommand, kLoginAccepted}),
              answers(first, {kModuleIdentification, kModuleIdentification}));
}

TEST(ReplyPolicyTest, EventsDueTogetherFireOnFollowingFramesDropFirst)
{
    ServerEvents e;
    e.closeOrderAfter = 1;
    e.disconnectAfter = 1;
    e.dropAfter = 1;
    e.echoEvery = 100;
    ReplyPolicy policy(e);
    EXPECT_EQ((std::vector<std::uint32_t>{kDeliveryConfirmation, 0, kDisconnectCommand, kCloseOrder,
                                          kLoginAccepted}),
              answers(policy, {kDataMessage, kDataMessage, kModuleIdentification, kPoll,
                               kModuleIdentification}));
    // A dropped frame is still counted: the server did receive it.
    EXPECT_EQ(2u, policy.counts().dataMessages);
    EXPECT_EQ(5u, policy.counts().frames);
}

TEST(ReplyPolicyTest, BadMarkersOnEveryAnswerFromTheirPointOn)
{
    ServerEvents e;
    e.badMarkersAfter = 1;
    e.closeOrderAfter = 1;
    ReplyPolicy policy(e);
    EXPECT_FALSE(policy.answer(kModuleIdentification).badEndMarker);
    EXPECT_FALSE(policy.answer(kDataMessage).badEndMarker);
    Answer close = policy.answer(kPoll);
    EXPECT_EQ(kCloseOrder, close.code);
    EXPECT_TRUE(close.badEndMarker);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(policy.answer(kPoll).badEndMarker);

    // On the wire only the end marker differs, so the gateway must ignore the whole reply.
    Bytes good = answerPayload(Answer{Answer::Kind::Reply, kPollReply, {0}, false}, 7);
    Bytes bad = answerPayload(Answer{Answer::Kind::Reply, kPollReply, {0}, true}, 7);
    EXPECT_EQ(makePayload(kPollReply, {0}, 7), good);
    ASSERT_EQ(good.size(), bad.size());
    EXPECT_EQ(0xFD, bad[kHeaderEndOffset]);
    bad[kHeaderEndOffset] = kHeaderEndMarker;
    EXPECT_EQ(good, bad);
    EXPECT_TRUE(checkReply(good).has_value());
    EXPECT_FALSE(checkReply(answerPayload(close, 8)).has_value());
}
