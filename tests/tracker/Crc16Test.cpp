// tests/tracker/Crc16Test.cpp: the checksum, header decoding and acknowledgement.
#include "tracker/Crc16.h"

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"
#include "tracker/PacketFormat.h"

using fakes::fromHex;
using namespace tracker;

TEST(Crc16Test, MatchesModbusCheckValue)
{
    const std::string text = "123456789";
    EXPECT_EQ(0x4B37, packetChecksum(reinterpret_cast<const std::uint8_t*>(text.data()), 9));
}

TEST(Crc16Test, WorkedShortPacketChecksIsType0AndAcknowledgesLowByteFirst)
{
    Bytes p = fromHex("04 04 00 01 19 07 EB CD");
    EXPECT_EQ(0xCDEB, packetChecksum(p.data(), 6));
    EXPECT_TRUE(checksumMatches(p.data(), p.size()));
    std::uint16_t header = readU16(p.data());
    EXPECT_EQ(4u, bodyLength(header));
    EXPECT_EQ(0u, packetType(header));
    Acknowledgement ack = buildAcknowledgement(p.data(), p.size());
    EXPECT_EQ((Acknowledgement{0x01, 0xEB, 0xCD}), ack);
}

TEST(Crc16Test, WorkedIdentificationPacketDecodes)
{
    Bytes p = fakes::makeIdentification("356307042441013");
    ASSERT_EQ(40u, p.size());
    EXPECT_EQ(0x24, p[0]);
    EXPECT_EQ(0x24, p[1]);
    std::uint16_t header = readU16(p.data());
    EXPECT_EQ(36u, bodyLength(header));
    EXPECT_EQ(kIdentificationPacket, packetType(header));
    EXPECT_EQ(0x19, p[3]);
    EXPECT_EQ(0x07, p[27]);
    EXPECT_EQ(fromHex("10 11 12 13 14 15 1A"), Bytes(p.begin() + 28, p.begin() + 35));
    EXPECT_TRUE(checksumMatches(p.data(), p.size()));
}

TEST(Crc16Test, WorkedDataPacketChecksumIs0034)
{
    Bytes p = fakes::workedDataPacket();
    ASSERT_EQ(25u, p.size());
    std::uint16_t header = readU16(p.data());
    EXPECT_EQ(21u, bodyLength(header));
    EXPECT_EQ(kDataPacket, packetType(header));
    EXPECT_EQ(0x0034, packetChecksum(p.data(), 23));
    EXPECT_TRUE(checksumMatches(p.data(), p.size()));
}

TEST(Crc16Test, HeaderBits10To12DoNotChangeLengthOrType)
{
    for (unsigned spare = 0; spare < 8; ++spare) {
        Bytes p = fakes::makePacket(5, {1, 2, 3}, spare);
        std::uint16_t header = readU16(p.data());
        EXPECT_EQ(3u, bodyLength(header)) << spare;
        EXPECT_EQ(5u, packetType(header)) << spare;
        EXPECT_TRUE(checksumMatches(p.data(), p.size()));
    }
}

TEST(Crc16Test, EmptyBodyPacketIsFourBytesCoveringOnlyTheHeader)
{
    Bytes p = fakes::makePacket(0, {});
    ASSERT_EQ(4u, p.size());
    EXPECT_EQ(packetChecksum(p.data(), 2), readU16(p.data() + 2));
    EXPECT_TRUE(checksumMatches(p.data(), p.size()));
    p[3] ^= 1;
    EXPECT_FALSE(checksumMatches(p.data(), p.size()));
}
