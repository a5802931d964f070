// tests/tools/gt20sim/TrackerPacketsTest.cpp: the simulator's packets against the worked examples
// and the gateway's own checks.
#include "tools/gt20sim/TrackerPackets.h"

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"
#include "tracker/Crc16.h"

using namespace gt20sim;

using fakes::workedFix;

TEST(TrackerPacketsTest, WorkedRecordMakesTheWorkedDataPacket)
{
    // The bytes of the worked data packet, as a tracker sends them.
    EXPECT_EQ(fakes::fromHex(
                  "15 44 01 68 44 0D 03 EC DE 0F 03 26 A8 09 59 27 00 C2 02 08 0E 0C 00 34 00"),
              dataPacket(kDefaultFields, {workedFix()}));
}

TEST(TrackerPacketsTest, HeaderSpareBitsAreSetAsAskedAndCoveredByTheChecksum)
{
    // The first worked packet: type 0, four body bytes, bit 10 set.
    EXPECT_EQ(fakes::fromHex("04 04 00 01 19 07 EB CD"), makePacket(0, {0x00, 0x01, 0x19, 0x07}));
    Bytes bare = makePacket(0, {0x00, 0x01, 0x19, 0x07}, 0);
    EXPECT_EQ(fakes::fromHex("04 00 00 01 19 07"), Bytes(bare.begin(), bare.end() - 2));
    EXPECT_TRUE(tracker::checksumMatches(bare.data(), bare.size()));
    Bytes all = makePacket(7, Bytes(1023, 0x5A), 7);
    EXPECT_EQ(0xFFFF, tracker::readU16(all.data())); // type 7, bits 10-12, length 1023
    EXPECT_TRUE(tracker::checksumMatches(all.data(), all.size()));
}

TEST(TrackerPacketsTest, IdentificationMatchesTheWorkedLayout)
{
    Bytes p = identificationPacket("356307042441013", 25, kDefaultFields);
    ASSERT_EQ(40u, p.size());
    EXPECT_EQ(0x24, p[0]);
    EXPECT_EQ(0x24, p[1]);
    EXPECT_EQ(25, p[3]);
    EXPECT_EQ("356307042441013", std::string(p.begin() + 5, p.begin() + 20));
    EXPECT_EQ(7, p[27]);
    EXPECT_EQ(fakes::fromHex("10 11 12 13 14 15 1A"), Bytes(p.begin() + 28, p.begin() + 35));
    EXPECT_TRUE(tracker::checksumMatches(p.data(), p.size()));

    // A longer field list lengthens the packet; the list still starts at byte 28.
    Bytes fields(40, 22);
    Bytes longer = identificationPacket("356307042441013", 3, fields);
    EXPECT_EQ(40u + 33, longer.size());
    EXPECT_EQ(36u + 33, tracker::bodyLength(tracker::readU16(longer.data())));
    EXPECT_EQ(40, longer[27]);
    EXPECT_EQ(Bytes(fields), Bytes(longer.begin() + 28, longer.begin() + 68));
}

TEST(TrackerPacketsTest, RecordsFollowTheFieldListOrderAndWidths)
{
    Fix f = workedFix();
    Bytes record;
    appendRecord(record, {26, 22, 17, 21, 23}, f);
    EXPECT_EQ(fakes::fromHex("0C00 00000000 26A80959 0E 0000"), record);
    EXPECT_EQ(record.size(), recordWidth({26, 22, 17, 21, 23}));

    Bytes packet = dataPacket({17}, {f, f, f});
    EXPECT_EQ(2 + 1 + 3 * 4 + 2u, packet.size());
    EXPECT_EQ(3, packet[2]);
    EXPECT_EQ(tracker::kDataPacket, tracker::packetType(tracker::readU16(packet.data())));

    EXPECT_FALSE(fieldWidth(15).has_value());
    EXPECT_FALSE(fieldWidth(27).has_value());
    EXPECT_EQ(51u, maxRecordsPerPacket(kDefaultFields));
    EXPECT_EQ(255u, maxRecordsPerPacket({}));
    // The longest packet the options allow: its length fills bits 0-9 without touching the type.
    Bytes longest = dataPacket(kDefaultFields, std::vector<Fix>(51, f));
    EXPECT_EQ(2 + 1021 + 2u, longest.size());
    EXPECT_EQ(1021u, tracker::bodyLength(tracker::readU16(longest.data())));
    EXPECT_EQ(tracker::kDataPacket, tracker::packetType(tracker::readU16(longest.data())));
}

TEST(TrackerPacketsTest, SpoiledChecksumIsNeverAcceptedAndAckRepeatsChecksumBytes)
{
    Bytes p = fakes::workedDataPacket();
    auto ack = expectedAck(p);
    EXPECT_EQ((tracker::Acknowledgement{0x01, 0x34, 0x00}), ack);
    spoilChecksum(p);
    EXPECT_FALSE(tracker::checksumMatches(p.data(), p.size()));
    EXPECT_EQ((tracker::Acknowledgement{0x01, 0xCB, 0xFF}), expectedAck(p));
}
