// tests/backlog/RecordFormatTest.cpp: finding the oldest record in a data file's bytes.
#include "backlog/RecordFormat.h"

#include <random>

#include <gtest/gtest.h>

#include "tests/fakes/Packets.h"

using namespace backlog;
using Kind = HeadRecord::Kind;
using fakes::fromHex;

namespace {

HeadRecord whole(const Bytes& b)
{
    return findHeadRecord(b.data(), b.size(), b.size());
}

} // namespace

TEST(RecordFormatTest, RecordOfAHundredCharactersIs112Bytes)
{
    Bytes r = encodeRecord(0x022000C7, Bytes(100, 'q'));
    ASSERT_EQ(112u, r.size());
    EXPECT_EQ(fromHex("FFFF C7002002 64000000"), Bytes(r.begin(), r.begin() + 10));
    EXPECT_EQ(fromHex("FEFF"), Bytes(r.end() - 2, r.end()));
    HeadRecord h = whole(r);
    EXPECT_EQ(Kind::Good, h.kind);
    EXPECT_EQ(10u, h.bodyOffset);
    EXPECT_EQ(100u, h.bodyLength);
    EXPECT_EQ(112u, h.end);
}

TEST(RecordFormatTest, HeaderCutOffByTheEndOfTheFileIsDamaged)
{
    EXPECT_EQ(Kind::None, whole(fromHex("FEFF")).kind);
    EXPECT_EQ(Kind::Damaged, whole(fromHex("FFFF")).kind);
    HeadRecord h = whole(fromHex("FFFF C7002002 0000"));
    EXPECT_EQ(Kind::Damaged, h.kind);
    EXPECT_EQ(0x022000C7u, h.code);
    EXPECT_EQ(8u, h.end);
    EXPECT_EQ(1, countRecords(Bytes(100'000, 0xFF)));
}

// A peek reads only the front of a large file; whatever it decides from that must be what the
// whole file says.
TEST(RecordFormatTest, AnswerFromTheFrontOfAFileMatchesTheWholeFile)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        Bytes file;
        while (file.size() < 300) {
            if (rng() % 3 == 0) {
                Bytes r = encodeRecord(rng(), Bytes(rng() % 40, 'z'));
                file.insert(file.end(), r.begin(), r.end());
            } else {
                file.push_back(static_cast<std::uint8_t>(rng() % 2 ? 0xFF : rng() % 4 + 0xFC));
            }
        }
        HeadRecord all = whole(file);
        ASSERT_LE(all.end, file.size());
        for (std::size_t window : {0u, 1u, 2u, 11u, 40u, 150u}) {
            HeadRecord part = findHeadRecord(file.data(), window, file.size());
            if (part.kind == Kind::NeedMore)
                continue;
            ASSERT_EQ(all.kind, part.kind) << "round " << round << " window " << window;
            ASSERT_EQ(all.end, part.end);
            ASSERT_EQ(all.bodyOffset, part.bodyOffset);
        }
        ASSERT_LE(countRecords(file), static_cast<std::int64_t>(file.size()));
    }
}
