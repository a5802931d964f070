// tests/fuzz/FuzzSupportTest.cpp: the input reader the fuzz targets stand on, which lets every
// target end whatever its input.
#include <gtest/gtest.h>

#include "fuzz/FuzzCheck.h"

using platform::Bytes;

TEST(FuzzInputTest, ReadsFrontToBackAndGivesZerosAndShortRunsPastTheEnd)
{
    const std::uint8_t data[] = {0x05, 0x02, 0x01, 'a', 'b', 'c', 0x07};
    fuzz::Input in(data, sizeof data);
    EXPECT_EQ(0x05, in.byte());
    EXPECT_EQ(0x0102, in.u16());
    EXPECT_EQ((Bytes{'a', 'b'}), in.bytes(2));
    EXPECT_EQ((Bytes{'c', 0x07}), in.bytes(10));
    EXPECT_TRUE(in.empty());
    EXPECT_EQ(0, in.byte());
    EXPECT_EQ(0, in.u16());
    EXPECT_TRUE(in.chunk().empty());
}

TEST(FuzzInputTest, ChunkIsASixteenBitLengthAndThatManyBytes)
{
    const std::uint8_t data[] = {0x02, 0x00, 'x', 'y', 'z'};
    fuzz::Input in(data, sizeof data);
    EXPECT_EQ((Bytes{'x', 'y'}), in.chunk());
    EXPECT_EQ(1u, in.remaining());
}
