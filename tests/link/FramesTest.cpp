// tests/link/FramesTest.cpp: the bytes of the frames we build and the checking of replies.
#include "link/Frames.h"

#include <set>

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"

using namespace msglink;
using fakes::fromHex;

namespace {

Bytes text(std::size_t n, char c = 'a')
{
    return Bytes(n, static_cast<std::uint8_t>(c));
}

Bytes payloadWith(const std::string& headerHex, const Bytes& body)
{
    Bytes p = fromHex(headerHex);
    p.insert(p.end(), body.begin(), body.end());
    return p;
}

} // namespace

TEST(FramesTest, PollIs39BytesWithNumberZeroEvenAfterThousandsOfFrames)
{
    MessageCounter counter;
    for (int i = 0; i < 5000; ++i)
        buildFrame(counter, kDataMessage, text(3));
    Bytes wire = wrapInEnvelope(buildPoll());
    EXPECT_EQ(fromHex("FF 00000000 12000000 0000000000000000 12000000"
                      "FF 00000002 00000000 0000000000000000 FE"),
              wire);
    EXPECT_EQ(5000, counter.next()); // the poll took no number
}

TEST(FramesTest, FirstFrameOfARunIsTheModuleIdentificationWithNumberZero)
{
    MessageCounter counter;
    auto login = loginMessages(37);
    EXPECT_EQ(fromHex("FF 01000002 02000000 0000000000000000 FE 3600"),
              buildFrame(counter, login[0].code, login[0].body));
    // The rest of the sequence takes the next numbers in order.
    for (std::int64_t n = 1; n < 4; ++n) {
        Bytes p = buildFrame(counter, login[n].code, login[n].body);
        EXPECT_EQ(n, readI64(&p[kHeaderNumberOffset]));
    }
    EXPECT_EQ(kPortReport, login[1].code);
    EXPECT_EQ(fromHex("04 434F4D30 000000"), login[1].body);
    EXPECT_EQ(kFirstNumberReport, login[2].code);
    EXPECT_EQ(fromHex("25"), login[2].body);
    EXPECT_EQ(kVersionReport, login[3].code);
    EXPECT_EQ(fromHex("0800 1100 0500 1A00"), login[3].body);
}

TEST(FramesTest, DataMessagesCarryTheirLengthInBothEnvelopeFieldsAndTheHeader)
{
    MessageCounter counter;
    counter.take();
    Bytes wire = wrapInEnvelope(buildFrame(counter, kDataMessage, text(100, 'x')));
    ASSERT_EQ(139u, wire.size());
    EXPECT_EQ(118, readI32(&wire[kEnvelopeLengthOffset]));
    EXPECT_EQ(118, readI32(&wire[kEnvelopeLengthCopyOffset]));
    const std::uint8_t* header = &wire[kEnvelopeSize];
    EXPECT_EQ(kDataMessage, readU32(header + kHeaderCodeOffset));
    EXPECT_EQ(100, readI32(header + kHeaderBodyLengthOffset));
    EXPECT_EQ(1, readI64(header + kHeaderNumberOffset));
    EXPECT_EQ(Bytes(wire.end() - 100, wire.end()), text(100, 'x'));

    Bytes empty = wrapInEnvelope(buildFrame(counter, kDataMessage, {}));
    EXPECT_EQ(39u, empty.size());
    EXPECT_EQ(0, readI32(&empty[kEnvelopeSize + kHeaderBodyLengthOffset]));
}

TEST(FramesTest, FirstNumberReportKeepsTheLowEightBits)
{
    EXPECT_EQ(fromHex("2C"), firstNumberBody(300));
    EXPECT_EQ(fromHex("FF"), firstNumberBody(-1));
}

TEST(FramesTest, VersionReportSplitsTheFileVersionAtItsDots)
{
    EXPECT_EQ(Bytes(8, 0), versionReportBody("8175"));
    EXPECT_EQ(Bytes(8, 0), versionReportBody(""));
    EXPECT_EQ(fromHex("0100 0200 0000 0000"), versionReportBody("1.2"));
    // The build number is the whole rest, so a fifth part makes it invalid.
    EXPECT_EQ(fromHex("0100 0200 0300 0000"), versionReportBody("1.2.3.4.5"));
    EXPECT_EQ(fromHex("0100 0000 0300 0400"), versionReportBody("1.x.3.4"));
    EXPECT_EQ(fromHex("0000 0200 0300 0400"), versionReportBody(" 1.2.3.4"));
    EXPECT_EQ(fromHex("7011 FFFF 0000 0400"), versionReportBody("70000.-1.99999999999.4"));
}

TEST(FramesTest, RepliesWithBadMarkersOrShorterThanTheHeaderAreIgnored)
{
    EXPECT_FALSE(checkReply(fromHex("FF 03000002 00000000 0000000000000000")).has_value());
    EXPECT_FALSE(checkReply(fromHex("FF 03000002 00000000 0000000000000000 FD")).has_value());
    EXPECT_FALSE(checkReply(fromHex("FE 03000002 00000000 0000000000000000 FE")).has_value());
    auto ok = checkReply(fromHex("FF 03000002 00000000 0000000000000000 FE"));
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ReplyKind::LoginAccepted, ok->kind);
}

TEST(FramesTest, BodyIsEmptyForLengthZeroAndOtherwiseEverythingAfterTheHeader)
{
    const std::string head = "FF 00000002 %s 0000000000000000 FE";
    auto with = [&](const char* lengthHex, const Bytes& body) {
        std::string h = head;
        h.replace(h.find("%s"), 2, lengthHex);
        return checkReply(payloadWith(h, body));
    };
    EXPECT_TRUE(with("00000000", text(7))->body.empty());
    EXPECT_EQ(text(9), with("05000000", text(9))->body);
    EXPECT_EQ(text(2), with("FFFFFFFF", text(2))->body);
    EXPECT_TRUE(with("40000000", {})->body.empty());
}

TEST(FramesTest, ReplyCodesAreClassifiedByTheReceiveTable)
{
    EXPECT_EQ(ReplyKind::LoginAccepted, classifyReply(0x02000003));
    EXPECT_EQ(ReplyKind::EchoRequest, classifyReply(0x02000004));
    EXPECT_EQ(ReplyKind::PollReply, classifyReply(0x02000000));
    EXPECT_EQ(ReplyKind::CloseOrder, classifyReply(0x02000005));
    EXPECT_EQ(ReplyKind::CloseOrder, classifyReply(0x02FFFFFE));
    EXPECT_EQ(ReplyKind::DisconnectCommand, classifyReply(0x02FFFFFD));
    EXPECT_EQ(ReplyKind::Other, classifyReply(0x02FFFFFF));
    EXPECT_EQ(ReplyKind::Other, classifyReply(0x03000004));
}

// The delivery confirmations, written out here rather than read from the code's own list.
TEST(FramesTest, ExactlyTheTwentySevenDeliveryConfirmationCodesConfirm)
{
    const std::set<std::uint32_t> confirmations = {
        0x0220002B, 0x03000003, 0x03000005, 0x03000007, 0x03000009, 0x0300000B, 0x0300000D,
        0x03000014, 0x03000016, 0x03000019, 0x0300001D, 0x0300001F, 0x03000021, 0x03000025,
        0x03000029, 0x0300002B, 0x0300002D, 0x0300002F, 0x03000031, 0x03000033, 0x03000037,
        0x0300005C, 0x03000060, 0x03000062, 0x03000064, 0x03000066, 0x03000068};
    ASSERT_EQ(27u, confirmations.size());
    for (std::uint32_t code : confirmations) {
        SCOPED_TRACE(::testing::Message() << std::hex << code);
        EXPECT_EQ(ReplyKind::DeliveryConfirmation, classifyReply(code));
        EXPECT_TRUE(isDeliveryConfirmation(code));
        // Their neighbours are not, unless listed themselves.
        for (std::uint32_t near : {code - 1, code + 1}) {
            if (confirmations.count(near) == 0) {
                EXPECT_FALSE(isDeliveryConfirmation(near)) << std::hex << near;
            }
        }
    }
}
