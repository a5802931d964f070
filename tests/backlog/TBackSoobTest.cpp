// tests/backlog/TBackSoobTest.cpp: the backlog's files, its oldest-first order, and how it
// comes through crashes and damage.
#include "backlog/TBackSoob.h"

#include <filesystem>
#include <future>
#include <random>
#include <thread>

#include "tests/backlog/StoreFixture.h"

using fakes::fromHex;

namespace {

class TBackSoobTest : public StoreFixture
{
};

} // namespace

TEST_F(TBackSoobTest, FreshDirectoryGetsTheEmptyIndexAndNoDataFile)
{
    auto& store = open();
    EXPECT_EQ(fromHex("FFFFEE0F 00000000 00000000 00000000"), read("backsoob.dat"));
    EXPECT_FALSE(exists(data(0)));
    EXPECT_EQ(0, store.Count());
    ASSERT_TRUE(store.AddMessage(0x01020304, {}));
    EXPECT_EQ(fromHex("FFFF 04030201 00000000 FEFF"), read(data(0)));
    EXPECT_EQ(fromHex("FFFFEE0F 01000000 00000000 00000000"), read("backsoob.dat"));
}

TEST_F(TBackSoobTest, MessagesComeBackOldestFirstAndSurviveANewStoreObject)
{
    auto& store = open();
    std::string hundred(100, 'j');
    ASSERT_TRUE(store.AddMessage(kData, text(hundred)));
    ASSERT_TRUE(store.AddMessage(kData, text("second")));
    EXPECT_EQ(112u + 18u, read(data(0)).size());

    auto& again = open();
    EXPECT_EQ(2, again.Count());
    std::uint32_t code = 0;
    Bytes body;
    ASSERT_TRUE(peekFrom(again, code, body));
    EXPECT_EQ(kData, code);
    EXPECT_EQ(text(hundred), body);
    ASSERT_TRUE(again.DeleteOldest());
    EXPECT_EQ(records({"second"}), read(data(0)));
    EXPECT_EQ(std::vector<std::string>{"second"}, drain());
    // The last record leaves an empty file, both numbers where they were.
    EXPECT_TRUE(read(data(0)).empty());
    EXPECT_EQ(fromHex("FFFFEE0F 00000000 00000000 00000000"), read("backsoob.dat"));
}

TEST_F(TBackSoobTest, RecordLongerThanWhatAPeekReadsFirstComesBackWhole)
{
    auto& store = open();
    Bytes big(70'000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>('a' + i % 26);
    ASSERT_TRUE(store.AddMessage(kData, big));
    ASSERT_TRUE(store.AddMessage(kData, text("next")));
    std::uint32_t code = 0;
    Bytes body;
    ASSERT_TRUE(peekFrom(store, code, body));
    EXPECT_EQ(big, body);
    ASSERT_TRUE(store.DeleteOldest());
    ASSERT_TRUE(peekFrom(store, code, body));
    EXPECT_EQ(text("next"), body);
}

TEST_F(TBackSoobTest, WriteFileRollsOverOnlyWhenLongerThanAMillionBytes)
{
    // One record of 1 000 000 bytes in data file 3.
    write(data(3), backlog::encodeRecord(kData, Bytes(1'000'000 - 12, 'a')));
    write("backsoob.dat", index(1, 3, 3));
    auto& store = open();
    ASSERT_TRUE(store.AddMessage(kData, text("x")));
    EXPECT_FALSE(exists(data(4)));
    EXPECT_EQ(1'000'013u, read(data(3)).size());

    // Now it is longer: the next record starts data file 4.
    ASSERT_TRUE(store.AddMessage(kData, text("y")));
    EXPECT_EQ(records({"y"}), read(data(4)));
    EXPECT_EQ(index(3, 3, 4), read("backsoob.dat"));
    EXPECT_EQ(4, store.writeNumber());
}

TEST_F(TBackSoobTest, RemovingTheLastRecordOfAFileMovesReadingToTheNextFile)
{
    write(data(3), records({"a"}));
    write(data(4), records({"b"}));
    write(data(5), records({"c"}));
    write("backsoob.dat", index(3, 3, 5));
    auto& store = open();
    ASSERT_TRUE(store.DeleteOldest());
    EXPECT_FALSE(exists(data(3)));
    EXPECT_EQ(index(2, 4, 5), read("backsoob.dat"));
    EXPECT_EQ((std::vector<std::string>{"b", "c"}), drain());
    EXPECT_TRUE(exists(data(5)));
    EXPECT_EQ(index(0, 5, 5), read("backsoob.dat"));
}

TEST_F(TBackSoobTest, DeleteOldestWithCountZeroChangesNothing)
{
    write(data(0), Bytes{});
    write("backsoob.dat", index(0, 0, 0));
    auto& store = open();
    ASSERT_TRUE(store.DeleteOldest());
    EXPECT_TRUE(exists(data(0)));
    EXPECT_EQ(index(0, 0, 0), read("backsoob.dat"));
    EXPECT_EQ(0, store.Count());
}

TEST_F(TBackSoobTest, EmptyOldestFilesClearTheStoreWhenNothingFollows)
{
    for (int n : {2, 3, 4})
        write(data(n), records({"m" + std::to_string(n)}));
    write("backsoob.dat", index(3, 2, 4));
    auto& store = open();
    for (int n : {2, 3, 4})
        write(data(n), Bytes{}); // emptied behind the store's back
    std::uint32_t code = 77;
    Bytes body = text("stale");
    EXPECT_FALSE(peekFrom(store, code, body));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(body.empty());
    for (int n : {2, 3, 4})
        EXPECT_FALSE(exists(data(n)));
    EXPECT_EQ(index(0, 0, 0), read("backsoob.dat"));
    EXPECT_EQ(0, store.Count());
}

// Clearing everything because the oldest file is empty would throw away the records that later
// files still hold.
TEST_F(TBackSoobTest, EmptyOrMissingOldestFileIsSkippedWhenLaterFilesHoldRecords)
{
    write(data(2), records({"gone"}));
    write(data(3), records({"kept"}));
    write(data(6), records({"later"}));
    write("backsoob.dat", index(3, 2, 6));
    auto& store = open();
    write(data(2), Bytes{});
    std::uint32_t code = 0;
    Bytes body;
    ASSERT_TRUE(peekFrom(store, code, body));
    EXPECT_EQ(text("kept"), body);
    EXPECT_FALSE(exists(data(2)));
    EXPECT_EQ(3, store.readNumber());
    ASSERT_TRUE(store.DeleteOldest()); // 3 is empty now; 4 and 5 never existed
    EXPECT_EQ((std::vector<std::string>{"later"}), drain());
}

TEST_F(TBackSoobTest, AStartMarkerAfterAnEndMarkerTailIsFound)
{
    write(data(0), cat({fromHex("FEFF"), records({"one", "two"})}));
    write("backsoob.dat", index(2, 0, 0));
    auto& store = open();
    EXPECT_EQ(index(2, 0, 0), read("backsoob.dat")); // consistent: left alone
    std::uint32_t code = 0;
    Bytes body;
    ASSERT_TRUE(peekFrom(store, code, body));
    EXPECT_EQ(text("one"), body);
    ASSERT_TRUE(store.DeleteOldest());
    EXPECT_EQ(records({"two"}), read(data(0)));
}

TEST_F(TBackSoobTest, RecordWithAWrongEndMarkerIsDamagedAndDroppedAlone)
{
    Bytes bad = records({"broken"});
    bad.back() = 0xFE;
    write(data(0), cat({bad, records({"fine"})}));
    write("backsoob.dat", index(2, 0, 0));
    auto& store = open();
    std::uint32_t code = 0;
    Bytes body = text("stale");
    EXPECT_FALSE(peekFrom(store, code, body));
    EXPECT_EQ(kData, code);
    EXPECT_TRUE(body.empty());
    ASSERT_TRUE(store.DeleteOldest());
    EXPECT_EQ(1, store.Count());
    EXPECT_EQ(std::vector<std::string>{"fine"}, drain());
}

TEST_F(TBackSoobTest, BodyLengthsThatAreNegativeOrRunPastTheFileAreDamage)
{
    Bytes negative = fromHex("FFFF C7002002 F6FFFFFF 6E6F FEFF");
    Bytes huge = fromHex("FFFF C7002002 F0FFFF7F 6E6F FEFF");
    write(data(0), cat({negative, records({"a"}), huge, records({"b"})}));
    write("backsoob.dat", index(4, 0, 0));
    open();
    int damaged = 0;
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), drain(&damaged));
    EXPECT_EQ(2, damaged);

    // A record cut short by a full disk, with records appended after it.
    Bytes cut = records({"truncated"});
    cut.resize(cut.size() - 5);
    write(data(0), cat({cut, records({"after"})}));
    write("backsoob.dat", index(2, 0, 0));
    open();
    EXPECT_EQ(std::vector<std::string>{"after"}, drain(&damaged));
}

TEST_F(TBackSoobTest, DataFileWithoutAnyStartMarkerHoldsNoRecord)
{
    write(data(0), Bytes(5000, 0x41));
    write("backsoob.dat", index(1, 0, 0));
    auto& store = open();
    EXPECT_EQ(0, store.Count()); // rebuilt: nothing there
    ASSERT_TRUE(store.AddMessage(kData, text("new")));
    std::uint32_t code = 0;
    Bytes body;
    ASSERT_TRUE(peekFrom(store, code, body));
    EXPECT_EQ(text("new"), body);
}

TEST_F(TBackSoobTest, RandomBytesInADataFileNeitherHangNorStrandGoodRecords)
{
    std::mt19937 rng(20240611);
    for (int round = 0; round < 20; ++round) {
        Bytes junk(3000);
        for (auto& b : junk)
            b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
        write(data(0), cat({records({"first"}), junk, records({"last"})}));
        std::filesystem::remove(path("backsoob.dat"));
        open();
        std::vector<std::string> got = drain();
        ASSERT_GE(got.size(), 2u) << "round " << round;
        EXPECT_EQ("first", got.front());
        EXPECT_EQ("last", got.back());
    }
}

// The process died while the oldest file was being rewritten: the old file is still whole.
TEST_F(TBackSoobTest, InterruptedRewriteLeavesTheOldFile)
{
    write(data(0), records({"a", "b", "c"}));
    write("bs0.tmp", records({"b"})); // half of the new contents
    write("backsoob.dat", index(3, 0, 0));
    open();
    EXPECT_FALSE(exists("bs0.tmp"));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), drain());
}

TEST_F(TBackSoobTest, FailedRewriteIsReportedAndChangesNothing)
{
    auto& store = open();
    ASSERT_TRUE(store.AddMessage(kData, text("a")));
    ASSERT_TRUE(store.AddMessage(kData, text("b")));
    std::filesystem::create_directory(path("bs0.tmp")); // the rewrite cannot create its file
    backlog::StoreStatus failed = store.DeleteOldest();
    EXPECT_EQ(backlog::StoreStatus::Kind::IoError, failed.kind());
    EXPECT_NE(std::string::npos, failed.text().find("bs0.tmp")) << failed.text();
    EXPECT_EQ(records({"a", "b"}), read(data(0)));
    EXPECT_EQ(2, store.Count());
    EXPECT_EQ(index(2, 0, 0), read("backsoob.dat"));
}

TEST_F(TBackSoobTest, WrongSignatureOverDataFilesRebuildsInsteadOfOverwriting)
{
    write(data(0), records({"a", "b"}));
    write(data(1), records({"c"}));
    write("backsoob.dat", index(3, 0, 1, 0x12345678));
    auto& store = open();
    EXPECT_EQ(index(3, 0, 1), read("backsoob.dat"));
    ASSERT_TRUE(store.AddMessage(kData, text("d")));
    EXPECT_EQ(records({"c", "d"}), read(data(1)));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d"}), drain());

    // A missing index is rebuilt the same way.
    write(data(7), records({"x"}));
    std::filesystem::remove(path("backsoob.dat"));
    EXPECT_EQ(1, open().Count());
    EXPECT_EQ(index(1, 7, 7), read("backsoob.dat"));
}

TEST_F(TBackSoobTest, CountOffByOneAfterACrashIsRebuilt)
{
    write(data(0), records({"a", "b", "c"}));
    write("backsoob.dat", index(2, 0, 0)); // removal counted, rewrite never happened
    EXPECT_EQ(3, open().Count());
    EXPECT_EQ(index(3, 0, 0), read("backsoob.dat"));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), drain());

    write(data(0), records({"a"}));
    write("backsoob.dat", index(2, 0, 0)); // counted, never appended
    EXPECT_EQ(1, open().Count());

    // Records below the read number are brought back into reach.
    write(data(0), records({"old"}));
    write(data(1), records({"new"}));
    write("backsoob.dat", index(1, 1, 1));
    open();
    EXPECT_EQ((std::vector<std::string>{"old", "new"}), drain());
}

TEST_F(TBackSoobTest, FileErrorsAreReportedWithTheirReasonAndReleaseTheLock)
{
    backlog::TBackSoob unopened(m_dir.path());
    EXPECT_FALSE(unopened.AddMessage(kData, {}));
    EXPECT_FALSE(unopened.PeekOldest().status);

    write("notadir", {});
    backlog::TBackSoob onFile(m_dir.file("dd8/notadir"));
    onFile.setSubdirectoryName("dd8");
    backlog::StoreStatus onFileStatus = onFile.OpenStore();
    EXPECT_FALSE(onFileStatus);
    EXPECT_NE(std::string::npos, onFileStatus.text().find("Not a directory"))
        << onFileStatus.text();

    auto& store = open();
    std::filesystem::create_directory(path(data(0)));
    backlog::StoreStatus lost = store.AddMessage(kData, text("lost"));
    EXPECT_EQ(backlog::StoreStatus::Kind::IoError, lost.kind());
    EXPECT_NE(std::string::npos, lost.text().find("Is a directory")) << lost.text();

    // Another thread can still take the store lock.
    fakes::TempDir other;
    auto done = std::async(std::launch::async, [&] {
        backlog::TBackSoob second(other.path());
        second.setSubdirectoryName("dd8");
        EXPECT_TRUE(second.OpenStore());
        EXPECT_TRUE(second.AddMessage(kData, text("ok")));
        return second.Count();
    });
    ASSERT_EQ(std::future_status::ready, done.wait_for(std::chrono::seconds(5)));
    EXPECT_EQ(1, done.get());
}

TEST_F(TBackSoobTest, AddingOnOneThreadWhileDrainingOnAnotherKeepsOrder)
{
    auto& store = open();
    constexpr int kMessages = 400;
    std::thread window([&] {
        for (int i = 0; i < kMessages; ++i)
            ASSERT_TRUE(store.AddMessage(kData, text(std::to_string(i))));
    });
    std::vector<std::string> got;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.size() < static_cast<std::size_t>(kMessages) &&
           std::chrono::steady_clock::now() < until) {
        std::uint32_t code = 0;
        Bytes body;
        if (store.Count() > 0 && peekFrom(store, code, body)) {
            got.emplace_back(body.begin(), body.end());
            ASSERT_TRUE(store.DeleteOldest());
        }
    }
    window.join();
    ASSERT_EQ(static_cast<std::size_t>(kMessages), got.size());
    for (int i = 0; i < kMessages; ++i)
        ASSERT_EQ(std::to_string(i), got[i]);
    EXPECT_EQ(0, store.Count());
}
