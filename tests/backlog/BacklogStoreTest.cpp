// tests/backlog/BacklogStoreTest.cpp: the backlog's files byte for byte, its oldest-first order,
// how it takes records without rewriting files, and how it comes through crashes, damage, a
// full disk and a read-only one.
#include "backlog/BacklogStore.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <thread>

#include "tests/backlog/StoreFixture.h"
#include "tests/fakes/FaultyFileSystem.h"

using fakes::fromHex;

namespace {

class BacklogStoreTest : public StoreFixture
{
protected:
    // Takes n records the way the client does: peek, then delete.
    void take(backlog::BacklogStore& store, int n)
    {
        for (int i = 0; i < n; ++i) {
            ASSERT_TRUE(store.oldest().found);
            ASSERT_TRUE(store.takeOldest());
        }
    }

    // Opens a store on a thread of its own and waits at most limit for it: an open that never
    // ends fails the test instead of hanging it (its thread is left behind, stuck).
    bool opensWithin(std::chrono::seconds limit)
    {
        auto store = std::make_shared<backlog::BacklogStore>(m_dir.path());
        store->setSubdirectoryName(backlog::kStoreDirectory);
        auto opened = std::make_shared<std::promise<bool>>();
        std::future<bool> done = opened->get_future();
        std::thread([store, opened]() mutable {
            const bool ok = store->open().isOk();
            store.reset(); // lets go of the index before the test goes on
            opened->set_value(ok);
        }).detach();
        return done.wait_for(limit) == std::future_status::ready && done.get();
    }

    static Bytes withCode0(Bytes record)
    {
        std::fill(record.begin() + 2, record.begin() + 6, 0);
        return record;
    }
};

} // namespace

TEST_F(BacklogStoreTest, FreshDirectoryGetsTheEmptyIndexAndNoDataFile)
{
    auto& store = open();
    EXPECT_EQ(fromHex("FFFFEE0F 00000000 00000000 00000000"), read("backsoob.dat"));
    EXPECT_FALSE(exists(data(0)));
    EXPECT_EQ(0, store.recordCount());
    ASSERT_TRUE(store.append(0x01020304, {}));
    EXPECT_EQ(fromHex("FFFF 04030201 00000000 FEFF"), read(data(0)));
    ASSERT_TRUE(store.sync());
    EXPECT_EQ(fromHex("FFFFEE0F 01000000 00000000 00000000"), read("backsoob.dat"));
}

TEST_F(BacklogStoreTest, RecordsAreAppendedAsTheFilesDefineThem)
{
    auto& store = open();
    ASSERT_TRUE(store.append(kData, text(std::string(100, 'j'))));
    ASSERT_TRUE(store.append(kData, text("second")));
    Bytes file = read(data(0));
    ASSERT_EQ(112u + 18u, file.size());
    EXPECT_EQ(fromHex("FFFF C7002002 64000000"), Bytes(file.begin(), file.begin() + 10));
    EXPECT_EQ(records({std::string(100, 'j'), "second"}), file);
    // Between syncs the index counts ahead of the appends, never behind them.
    EXPECT_GE(platform::readI32(read("backsoob.dat").data() + 4), 2);

    auto& again = open();
    EXPECT_EQ(2, again.pendingCount());
    EXPECT_EQ((std::vector<std::string>{std::string(100, 'j'), "second"}), drain());
}

TEST_F(BacklogStoreTest, RecordLongerThanOneReadComesBackWhole)
{
    auto& store = open();
    Bytes big(200'000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>('a' + i % 26);
    ASSERT_TRUE(store.append(kData, big));
    ASSERT_TRUE(store.append(kData, text("next")));
    EXPECT_EQ(big, oldestBody(store));
    ASSERT_TRUE(store.takeOldest());
    EXPECT_EQ(text("next"), oldestBody(store));
}

TEST_F(BacklogStoreTest, WriteFileRollsOverOnlyWhenLongerThanAMillionBytes)
{
    // One record of 1 000 000 bytes in data file 3.
    write(data(3), backlog::encodeRecord(kData, Bytes(1'000'000 - 12, 'a')));
    write("backsoob.dat", index(1, 3, 3));
    auto& store = open();
    ASSERT_TRUE(store.append(kData, text("x")));
    EXPECT_FALSE(exists(data(4)));
    EXPECT_EQ(1'000'013u, read(data(3)).size());

    // Now it is longer: the next record starts data file 4.
    ASSERT_TRUE(store.append(kData, text("y")));
    EXPECT_EQ(records({"y"}), read(data(4)));
    ASSERT_TRUE(store.sync());
    EXPECT_EQ(index(3, 3, 4), read("backsoob.dat"));
    EXPECT_EQ(4, store.writeNumber());
}

// Taking a record rewrites nothing: it is marked with code 0 in place (the code of a record
// that is taken away unsent), and a data file is deleted once all of it is taken.
TEST_F(BacklogStoreTest, TakenRecordsAreMarkedInPlaceAndUsedUpFilesDeleted)
{
    write(data(3), records({"a", "b"}));
    write(data(4), records({"c", "d"}));
    write("backsoob.dat", index(4, 3, 4));
    auto& store = open();
    take(store, 1);
    ASSERT_TRUE(store.sync());
    EXPECT_EQ(cat({withCode0(records({"a"})), records({"b"})}), read(data(3)));
    EXPECT_EQ(index(4, 3, 4), read("backsoob.dat")); // Count counts the marked record too

    take(store, 1);
    EXPECT_FALSE(exists(data(3)));
    EXPECT_EQ(index(2, 4, 4), read("backsoob.dat"));

    // A new store object skips the marked records at once.
    take(store, 1);
    ASSERT_TRUE(store.sync());
    auto& again = open();
    EXPECT_EQ(1, again.pendingCount());
    EXPECT_EQ(std::vector<std::string>{"d"}, drain());

    // Everything taken: the index counts nothing, and the numbers start over at 0.
    ASSERT_TRUE(again.sync());
    EXPECT_FALSE(exists(data(4)));
    EXPECT_EQ(index(0, 0, 0), read("backsoob.dat"));
    ASSERT_TRUE(again.append(kData, text("e")));
    EXPECT_EQ(records({"e"}), read(data(0)));
}

// A store written by the files' own rules, with what they allow: several files, a record with
// code 0, a damaged record, a read file that starts with the tail of an end marker.
TEST_F(BacklogStoreTest, FilesWrittenByTheRulesOpenAndDrain)
{
    Bytes zero = backlog::encodeRecord(0, text("unsent"));
    Bytes damaged = records({"damaged"});
    damaged.back() = 0xFE;
    write(data(5), cat({fromHex("FEFF"), records({"a"}), zero, records({"b"})}));
    write(data(6), cat({damaged, records({"c"})}));
    write(data(7), records({"d"}));
    write("backsoob.dat", index(6, 5, 7));
    open();
    int damagedCount = 0;
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d"}), drain(&damagedCount));
    EXPECT_EQ(1, damagedCount);
}

// A power cut can leave records on the disk that the index does not count yet: a flush made
// them last before the index caught up. Every one of them still goes, up to the last.
TEST_F(BacklogStoreTest, RecordsBeyondAnIndexThatCountsTooFewAllGo)
{
    write(data(3), records({"a", "b"}));
    write(data(4), records({"c", "d"}));
    write("backsoob.dat", index(1, 3, 4));
    open();
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d"}), drain());
}

TEST_F(BacklogStoreTest, EmptyOrMissingFilesBeforeTheWriteFileAreSkipped)
{
    write(data(2), Bytes{});
    write(data(4), records({"kept"}));
    write(data(6), records({"later"}));
    write("backsoob.dat", index(2, 2, 6));
    open();
    EXPECT_EQ((std::vector<std::string>{"kept", "later"}), drain());
    EXPECT_FALSE(exists(data(2)));
    EXPECT_FALSE(exists(data(4)));
}

// Opening trusts a consistent index and reads only the read file and the write file, so a
// store of a million records opens as fast as one of ten.
TEST_F(BacklogStoreTest, OpeningReadsOnlyTheReadAndTheWriteFile)
{
    for (int n = 10; n <= 14; ++n)
        write(data(n), records({"m" + std::to_string(n)}));
    write("backsoob.dat", index(5, 10, 14));
    fakes::FaultyFileSystem fs;
    backlog::BacklogStore store(m_dir.path(), fs);
    store.setSubdirectoryName(backlog::kStoreDirectory);
    ASSERT_TRUE(store.open());
    EXPECT_GT(fs.readsOf(data(10)), 0);
    EXPECT_GT(fs.readsOf(data(14)), 0);
    for (int n = 11; n <= 13; ++n)
        EXPECT_EQ(0, fs.readsOf(data(n))) << n;
    EXPECT_EQ(5, store.pendingCount());
}

// A crash in the middle of an append leaves a record cut off at the end of the write file. It
// is cut away when the store opens, so the next record starts clean and nothing is taken with
// the broken one.
TEST_F(BacklogStoreTest, ARecordCutOffAtTheEndOfTheWriteFileIsCutAwayAtOpen)
{
    write(data(0), fromHex("FF")); // a single byte, and no index
    auto& store = open();
    ASSERT_TRUE(store.append(kData, text("after the crash")));
    EXPECT_EQ(text("after the crash"), oldestBody(store));
    ASSERT_TRUE(store.takeOldest());
    open(); // nothing was lost with it, and nothing is left
    EXPECT_EQ(std::vector<std::string>{}, drain());

    Bytes cut = records({"cut"});
    cut.resize(cut.size() - 3);
    write(data(0), cat({records({"whole"}), cut}));
    write("backsoob.dat", index(2, 0, 0));
    auto& again = open();
    EXPECT_EQ(records({"whole"}), read(data(0)));
    ASSERT_TRUE(again.append(kData, text("next")));
    EXPECT_EQ(records({"whole", "next"}), read(data(0)));
    EXPECT_EQ((std::vector<std::string>{"whole", "next"}), drain());
}

// A crash can cut the last record of the write file after any of its bytes: opening cuts it
// away, whatever its length, and keeps every record before it.
TEST_F(BacklogStoreTest, ALastRecordCutAtAnyLengthIsCutAwayAtOpen)
{
    const Bytes whole = records({"a", "bb"});
    const Bytes last = records({"cut"});
    for (std::size_t kept = 1; kept < last.size(); ++kept) {
        SCOPED_TRACE("the cut record keeps " + std::to_string(kept) + " bytes");
        write(data(0), cat({whole, Bytes(last.begin(), last.begin() + kept)}));
        write("backsoob.dat", index(3, 0, 0));
        ASSERT_TRUE(opensWithin(std::chrono::seconds(5)));
        EXPECT_EQ(whole, read(data(0)));
        open();
        EXPECT_EQ((std::vector<std::string>{"a", "bb"}), drain());
    }
}

TEST_F(BacklogStoreTest, DamagedRecordsAreDroppedAloneAndNeverStrandGoodOnes)
{
    Bytes negative = fromHex("FFFF C7002002 F6FFFFFF 6E6F FEFF");
    Bytes huge = fromHex("FFFF C7002002 F0FFFF7F 6E6F FEFF");
    Bytes wrongEnd = records({"broken"});
    wrongEnd.back() = 0xFE;
    Bytes cut = records({"truncated"});
    cut.resize(cut.size() - 5);
    write(data(0), cat({negative, records({"a"}), huge, records({"b"}), wrongEnd, records({"c"}),
                        cut, records({"d"})}));
    write("backsoob.dat", index(8, 0, 0));
    open();
    int damaged = 0;
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d"}), drain(&damaged));
    EXPECT_EQ(4, damaged);

    std::mt19937 rng(20240611);
    for (int round = 0; round < 20; ++round) {
        Bytes junk(3000);
        for (auto& b : junk)
            b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
        m_store.reset(); // nobody writes the files behind an open store's back
        write(data(0), cat({records({"first"}), junk, records({"last"})}));
        std::filesystem::remove(path("backsoob.dat"));
        open();
        std::vector<std::string> got = drain();
        ASSERT_GE(got.size(), 2u) << "round " << round;
        EXPECT_EQ("first", got.front());
        EXPECT_EQ("last", got.back());
    }
}

TEST_F(BacklogStoreTest, AnIndexThatContradictsTheFilesIsRebuiltFromThem)
{
    write(data(0), records({"a", "b"}));
    write(data(1), records({"c"}));
    write("backsoob.dat", index(3, 0, 1, 0x12345678)); // wrong signature
    auto& store = open();
    EXPECT_EQ(index(3, 0, 1), read("backsoob.dat"));
    ASSERT_TRUE(store.append(kData, text("d")));
    EXPECT_EQ(records({"c", "d"}), read(data(1)));
    EXPECT_EQ((std::vector<std::string>{"a", "b", "c", "d"}), drain());

    // A missing index, and a file beyond the write number, are rebuilt the same way.
    write(data(7), records({"x"}));
    std::filesystem::remove(path("backsoob.dat"));
    EXPECT_EQ(1, open().pendingCount());
    EXPECT_EQ(index(1, 7, 7), read("backsoob.dat"));
    write(data(9), records({"y"}));
    EXPECT_EQ(2, open().pendingCount());

    // Files before the read file are what an interrupted deletion left: taken already.
    write(data(3), records({"taken"}));
    write(data(4), records({"new"}));
    write("backsoob.dat", index(1, 4, 4));
    std::filesystem::remove(path(data(7)));
    std::filesystem::remove(path(data(9)));
    open();
    EXPECT_FALSE(exists(data(3)));
    EXPECT_EQ(std::vector<std::string>{"new"}, drain());
}

TEST_F(BacklogStoreTest, ASecondStoreOnTheSameDirectoryCannotOpenIt)
{
    auto& first = open();
    backlog::BacklogStore second(m_dir.path());
    second.setSubdirectoryName(backlog::kStoreDirectory);
    backlog::StoreStatus status = second.open();
    EXPECT_FALSE(status);
    EXPECT_NE(std::string::npos, status.text().find("another gateway")) << status.text();
    EXPECT_FALSE(second.append(kData, text("refused")));
    ASSERT_TRUE(first.append(kData, text("kept")));
}

TEST_F(BacklogStoreTest, FileErrorsAreReportedWithTheirReason)
{
    backlog::BacklogStore unopened(m_dir.path());
    EXPECT_FALSE(unopened.append(kData, {}));
    EXPECT_FALSE(unopened.oldest().status);

    write("notadir", {});
    backlog::BacklogStore onFile(m_dir.file("dd8/notadir"));
    onFile.setSubdirectoryName("dd8");
    backlog::StoreStatus onFileStatus = onFile.open();
    EXPECT_FALSE(onFileStatus);
    EXPECT_NE(std::string::npos, onFileStatus.text().find("Not a directory"))
        << onFileStatus.text();

    EXPECT_EQ(backlog::StoreStatus::Kind::Damaged,
              open().append(kData, Bytes(16u * 1024 * 1024 + 1, 'x')).kind());
}

// A full disk refuses the append, and a write that got only part of its bytes out is cut away
// again; taking records needs no room, so delivery goes on and makes room.
TEST_F(BacklogStoreTest, AFullDiskRefusesAppendsButNotTakingRecords)
{
    fakes::FaultyFileSystem fs;
    backlog::BacklogStore store(m_dir.path(), fs);
    store.setSubdirectoryName(backlog::kStoreDirectory);
    ASSERT_TRUE(store.open());
    ASSERT_TRUE(store.append(kData, text("a")));
    ASSERT_TRUE(store.append(kData, text("b")));

    fs.tearNextWrite(7, ENOSPC);
    backlog::StoreStatus full = store.append(kData, text("torn"));
    EXPECT_EQ(backlog::StoreStatus::Kind::DiskFull, full.kind());
    EXPECT_NE(std::string::npos, full.text().find("No space left on device")) << full.text();
    EXPECT_EQ(records({"a", "b"}), read(data(0))); // no half record left behind

    fs.refuseChanges(ENOSPC);
    EXPECT_EQ(backlog::StoreStatus::Kind::DiskFull, store.append(kData, text("c")).kind());
    take(store, 1);
    (void)store.sync(); // marking needs no room either, but a refusal is only reported
    EXPECT_EQ(1, store.pendingCount());

    fs.refuseChanges(0); // room again
    ASSERT_TRUE(store.append(kData, text("d")));
    EXPECT_EQ(text("b"), oldestBody(store));
    ASSERT_TRUE(store.takeOldest());
    EXPECT_EQ(text("d"), oldestBody(store));
}

// A read-only disk: nothing can be added, with the system's reason; what is there can still
// be read and taken (in memory), and comes again after a restart.
TEST_F(BacklogStoreTest, AReadOnlyDiskRefusesAppendsWithItsReason)
{
    {
        auto& store = open();
        ASSERT_TRUE(store.append(kData, text("a")));
        ASSERT_TRUE(store.append(kData, text("b")));
        m_store.reset();
    }
    fakes::FaultyFileSystem fs;
    backlog::BacklogStore store(m_dir.path(), fs);
    store.setSubdirectoryName(backlog::kStoreDirectory);
    ASSERT_TRUE(store.open());
    fs.refuseChanges(EROFS);
    backlog::StoreStatus refused = store.append(kData, text("c"));
    EXPECT_EQ(backlog::StoreStatus::Kind::IoError, refused.kind());
    EXPECT_NE(std::string::npos, refused.text().find("Read-only file system")) << refused.text();
    take(store, 2);
    EXPECT_FALSE(store.oldest().found);
    EXPECT_FALSE(store.sync());
}

TEST_F(BacklogStoreTest, AddingOnOneThreadWhileDrainingOnAnotherKeepsOrder)
{
    auto& store = open();
    constexpr int kMessages = 400;
    std::thread window([&] {
        for (int i = 0; i < kMessages; ++i)
            EXPECT_TRUE(store.append(kData, text(std::to_string(i))));
    });
    std::vector<std::string> got;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (got.size() < static_cast<std::size_t>(kMessages) &&
           std::chrono::steady_clock::now() < until) {
        backlog::BacklogStore::Oldest p = store.oldest();
        ASSERT_TRUE(p.status);
        if (p.found) {
            got.emplace_back(p.body.begin(), p.body.end());
            ASSERT_TRUE(store.takeOldest());
        }
        if (got.size() % 50 == 0) {
            ASSERT_TRUE(store.sync());
        }
    }
    window.join();
    ASSERT_EQ(static_cast<std::size_t>(kMessages), got.size());
    for (int i = 0; i < kMessages; ++i)
        ASSERT_EQ(std::to_string(i), got[static_cast<std::size_t>(i)]);
    EXPECT_EQ(0, store.pendingCount());
}

// Missing data files between the read and the write number are crossed in one step, however
// wide the gap: not one index write per missing number.
TEST_F(BacklogStoreTest, AGapInTheDataFileNumbersIsCrossedInOneStep)
{
    write(data(5), records({"before"}));
    write(data(1'000'000'000), records({"after"}));
    write("backsoob.dat", index(2, 5, 1'000'000'000));
    fakes::FaultyFileSystem fs;
    backlog::BacklogStore store(m_dir.path(), fs);
    store.setSubdirectoryName(backlog::kStoreDirectory);
    ASSERT_TRUE(store.open());
    take(store, 1);
    EXPECT_EQ(text("after"), oldestBody(store));
    EXPECT_LT(fs.changes(), 10);
}

// A damaged record's length can point past the records after it. Records appended behind must
// not give it an end marker to point at: it would turn into a "record" that swallows the good
// ones. A write file that holds damage gets no more appends; the next record starts a file.
TEST_F(BacklogStoreTest, AppendsNeverCompleteADamagedRecordBeforeThem)
{
    Bytes damaged = fromHex("FFFF C7002002 64000000"); // claims 100 bytes
    damaged.resize(20, 0x41);                          // has 10
    write(data(0), cat({damaged, records({"a"})}));
    write("backsoob.dat", index(2, 0, 0));
    auto& store = open();
    // 20 + 13 bytes stand before it; with a body of 67 its end marker lands where the damaged
    // record's length points.
    ASSERT_TRUE(store.append(kData, text(std::string(67, 'b'))));
    ASSERT_TRUE(store.append(kData, text("c")));
    EXPECT_EQ(cat({damaged, records({"a"})}), read(data(0)));
    EXPECT_EQ(1, store.writeNumber());
    int bad = 0;
    EXPECT_EQ((std::vector<std::string>{"a", std::string(67, 'b'), "c"}), drain(&bad));
    EXPECT_EQ(1, bad);
}

// A file that cannot be opened or read, or a directory that cannot be listed, is a failure with
// the system's reason, never a missing file or an empty directory: nothing is skipped, retired or
// written over, and once the fault clears every record comes, in order.
TEST_F(BacklogStoreTest, AFaultThatClearsLosesNothing)
{
    using Fs = fakes::FaultyFileSystem;
    struct Row
    {
        const char* what;
        void (*fault)(Fs&, int osError); // 0 clears it
        int osError;
        bool beforeOpen;
    };
    const Row rows[] = {
        {"opening bs1.dat", [](Fs& fs, int e) { fs.failOpens("bs1.dat", e); }, EMFILE, false},
        {"opening the write file", [](Fs& fs, int e) { fs.failOpens("bs2.dat", e); }, EMFILE, true},
        {"reading bs1.dat", [](Fs& fs, int e) { fs.failReads("bs1.dat", e); }, EIO, false},
        {"reading the read file", [](Fs& fs, int e) { fs.failReads("bs0.dat", e); }, EIO, false},
        {"listing", [](Fs& fs, int e) { fs.failListings(e); }, EIO, false},
        {"listing at open", [](Fs& fs, int e) { fs.failListings(e); }, EIO, true},
    };
    std::vector<std::string> expected;
    Bytes files[3]; // 100, 300 and 20 records
    for (int i = 0; i < 420; ++i) {
        expected.push_back(std::to_string(i));
        Bytes& file = files[i < 100 ? 0 : i < 400 ? 1 : 2];
        file = cat({file, backlog::encodeRecord(kData, text(expected.back()))});
    }
    expected.push_back("new");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        for (int n = 0; n < 3; ++n)
            write(data(n), files[n]);
        write("backsoob.dat", index(420, 0, 2));
        Fs fs;
        std::vector<std::string> failures;
        auto passes = [&](const backlog::StoreStatus& s) { // a failure is seen, then it clears
            if (!s) {
                failures.push_back(s.text());
                row.fault(fs, 0);
            }
            return s.isOk();
        };
        backlog::BacklogStore store(m_dir.path(), fs);
        store.setSubdirectoryName(backlog::kStoreDirectory);
        row.fault(fs, row.beforeOpen ? row.osError : 0);
        ASSERT_TRUE(passes(store.open()) || store.open());
        row.fault(fs, row.beforeOpen ? 0 : row.osError);
        ASSERT_TRUE(store.append(kData, text("new")));
        std::vector<std::string> got;
        for (int step = 0; step < 1000; ++step) {
            backlog::BacklogStore::Oldest p = store.oldest();
            if (passes(p.status) && !p.found)
                break;
            if (p.found && passes(store.takeOldest()))
                got.emplace_back(p.body.begin(), p.body.end());
        }
        EXPECT_EQ(expected, got);
        EXPECT_EQ(0, store.pendingCount());
        ASSERT_FALSE(failures.empty()) << "the fault was never reported";
        EXPECT_NE(std::string::npos, failures[0].find(platform::errorText(row.osError)))
            << failures[0];
    }
}

// A data file that a new write file would take the place of is never emptied: an empty one is
// taken as it is; one that holds records is left as it is and the append fails, until the store
// is opened again and takes those records in.
TEST_F(BacklogStoreTest, AnExistingDataFileIsNeverWrittenOver)
{
    const std::string big(1'000'001 - 12, 'f'); // its record fills data file 0
    struct Row
    {
        const char* what;
        std::string inWriteFile;
        int appears;
        std::string there;
        std::vector<std::string> drained;
    };
    const Row rows[] = {
        {"the first data file of a new store", "", 0, "there", {"there", "new"}},
        {"the file after a full one", big, 1, "there", {big, "there", "new"}},
        {"an empty file", big, 1, "", {big, "new"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        m_store.reset();
        std::filesystem::remove_all(m_dir.file("dd8"));
        if (!row.inWriteFile.empty())
            write(data(0), records({row.inWriteFile}));
        write("backsoob.dat", index(row.inWriteFile.empty() ? 0 : 1, 0, 0));
        auto& store = open();
        // Put there behind the open store's back, as a removal that failed leaves a file.
        const Bytes there = row.there.empty() ? Bytes{} : records({row.there});
        std::ofstream(path(data(row.appears)), std::ios::binary)
            << std::string(there.begin(), there.end());
        backlog::StoreStatus appended = store.append(kData, text("new"));
        if (!there.empty()) {
            EXPECT_EQ(backlog::StoreStatus::Kind::Damaged, appended.kind()) << appended.text();
            EXPECT_EQ(there, read(data(row.appears)));
            appended = open().append(kData, text("new"));
        }
        ASSERT_TRUE(appended) << appended.text();
        EXPECT_EQ(row.drained, drain());
    }
}

// A used-up file that a failed removal left before the read file goes before the numbers start
// over at 0, so the new write file does not meet it.
TEST_F(BacklogStoreTest, AUsedUpFileLeftBehindGoesBeforeTheNumbersStartOver)
{
    write(data(2), records({"a"}));
    write("backsoob.dat", index(1, 2, 2));
    auto& store = open();
    std::ofstream(path(data(0)), std::ios::binary) << "taken long ago";
    take(store, 1);
    ASSERT_TRUE(store.sync());
    EXPECT_FALSE(exists(data(0)));
    EXPECT_EQ(0, store.writeNumber());
    ASSERT_TRUE(store.append(kData, text("new")));
    EXPECT_EQ(std::vector<std::string>{"new"}, drain());
}
