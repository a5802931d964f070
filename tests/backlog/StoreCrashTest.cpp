// tests/backlog/StoreCrashTest.cpp: a process killed at any step of appending, taking, marking,
// deleting a used-up file or emptying the write file leaves files that open with nothing lost
// (records taken before may come again), both for this store and for any reader that follows
// the files' own rules.
#include "backlog/BacklogStore.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "tests/fakes/TempDir.h"
#include "tests/fakes/FaultyFileSystem.h"

namespace {

namespace fs = std::filesystem;
using backlog::Bytes;
using backlog::HeadRecord;

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes indexBytes(std::int32_t count, std::int32_t readN, std::int32_t writeN)
{
    Bytes b(16);
    platform::writeU32(b.data(), 0x0FEEFFFF);
    platform::writeI32(&b[4], count);
    platform::writeI32(&b[8], readN);
    platform::writeI32(&b[12], writeN);
    return b;
}

// A message's name: its body up to the first ';' (the rest pads it out).
std::string nameOf(const Bytes& body)
{
    std::string s(body.begin(), body.end());
    return s.substr(0, s.find(';'));
}

// Drains a directory by the files' own rules, as any reader of them does: the index's Count
// says how many records are left; each is taken from the front of the read file, which is then
// written back without it; an emptied file before the write file is deleted and reading moves
// on; an empty read file while Count is left clears the store.
std::vector<std::string> drainByTheRules(const fs::path& dir)
{
    std::vector<std::string> names;
    for (int guard = 0; guard < 100000; ++guard) {
        // An index that is not whole is made anew, empty, when the store opens.
        Bytes index = readFile(dir / "backsoob.dat");
        if (index.size() != 16 || platform::readU32(index.data()) != 0x0FEEFFFF)
            return names;
        std::int32_t count = platform::readI32(&index[4]);
        std::int32_t readN = platform::readI32(&index[8]);
        const std::int32_t writeN = platform::readI32(&index[12]);
        if (count <= 0)
            return names;
        const fs::path file = dir / ("bs" + std::to_string(readN) + ".dat");
        if (!fs::exists(file)) {
            ADD_FAILURE() << "the index names " << file << ", which is not there";
            return names;
        }
        Bytes bytes = readFile(file);
        HeadRecord head = backlog::findHeadRecord(bytes.data(), bytes.size(), bytes.size());
        if (bytes.empty() || head.kind == HeadRecord::Kind::None) {
            for (std::int32_t n = readN; n <= writeN; ++n)
                fs::remove(dir / ("bs" + std::to_string(n) + ".dat"));
            writeFile(dir / "backsoob.dat", indexBytes(0, 0, 0));
            continue;
        }
        if (head.kind == HeadRecord::Kind::Good && head.code != 0)
            names.push_back(nameOf(Bytes(
                bytes.begin() + static_cast<std::ptrdiff_t>(head.bodyOffset),
                bytes.begin() + static_cast<std::ptrdiff_t>(head.bodyOffset + head.bodyLength))));
        Bytes rest(bytes.begin() + static_cast<std::ptrdiff_t>(head.end), bytes.end());
        writeFile(file, rest);
        if (rest.empty() && readN != writeN) {
            fs::remove(file);
            ++readN;
        }
        writeFile(dir / "backsoob.dat", indexBytes(count - 1, readN, writeN));
    }
    ADD_FAILURE() << "the drain did not end";
    return names;
}

// What the scenario did: the messages it stored, in order, and how many it took.
struct ScenarioRun
{
    std::vector<std::string> stored;
    int taken = 0;
};

// Appends across a roll-over (one large record fills the first file), takes records with syncs
// between (marks, the used-up file deleted), takes everything (the write file emptied, the
// numbers back to 0) and appends again. Once the file layer has "crashed" every change fails;
// the run goes on doing nothing, as a dead process would.
ScenarioRun scenario(backlog::BacklogStore& store)
{
    ScenarioRun run;
    auto add = [&](int i, std::size_t size) {
        std::string body = "m" + std::to_string(i) + ";" + std::string(size, 'x');
        if (store.append(0x022000C7, Bytes(body.begin(), body.end())))
            run.stored.push_back("m" + std::to_string(i));
    };
    auto take = [&](int n) {
        for (int i = 0; i < n; ++i) {
            backlog::BacklogStore::Oldest p = store.oldest();
            if (p.status && p.found && store.takeOldest())
                ++run.taken;
        }
    };
    add(0, 1'000'000);
    for (int i = 1; i < 8; ++i)
        add(i, 20);
    take(3);
    (void)store.sync();
    for (int i = 8; i < 11; ++i)
        add(i, 20);
    take(4);
    (void)store.sync();
    take(4);
    (void)store.sync();
    for (int i = 11; i < 13; ++i)
        add(i, 20);
    (void)store.sync();
    return run;
}

// got must be what was stored, from some record on that was taken (or the first not taken).
void expectNothingLost(const std::vector<std::string>& got, const ScenarioRun& run, long crashAt,
                       const char* reader)
{
    for (std::size_t from = 0;
         from <= static_cast<std::size_t>(run.taken) && from <= run.stored.size(); ++from)
        if (got == std::vector<std::string>(run.stored.begin() + static_cast<std::ptrdiff_t>(from),
                                            run.stored.end()))
            return;
    ADD_FAILURE() << reader << ", crash after " << crashAt << " changes: " << got.size()
                  << " records, stored " << run.stored.size() << ", taken " << run.taken;
}

} // namespace

TEST(StoreCrashTest, AKillAtAnyStepLosesNothing)
{
    long changes = 0;
    {
        fakes::TempDir dir(fakes::TempDir::memoryBase());
        fakes::FaultyFileSystem files;
        backlog::BacklogStore store(dir.path(), files);
        store.setSubdirectoryName(backlog::kStoreDirectory);
        ASSERT_TRUE(store.open());
        ScenarioRun run = scenario(store);
        ASSERT_EQ(13u, run.stored.size());
        ASSERT_EQ(11, run.taken);
        changes = files.changes();
    }
    ASSERT_GT(changes, 15);

    for (long crashAt = 0; crashAt <= changes; ++crashAt) {
        fakes::TempDir dir(fakes::TempDir::memoryBase());
        ScenarioRun run;
        {
            fakes::FaultyFileSystem files;
            files.crashAfter(crashAt);
            backlog::BacklogStore store(dir.path(), files);
            store.setSubdirectoryName(backlog::kStoreDirectory);
            if (store.open())
                run = scenario(store);
        } // the dead process's store goes; it can change nothing more

        const fs::path dd8 = fs::path(dir.path()) / "dd8";
        if (!fs::exists(dd8 / "backsoob.dat"))
            continue; // killed before the store existed
        const fs::path copy = fs::path(dir.path()) / "copy";
        fs::copy(dd8, copy);
        expectNothingLost(drainByTheRules(copy), run, crashAt, "read by the rules");

        backlog::BacklogStore reopened(dir.path());
        reopened.setSubdirectoryName(backlog::kStoreDirectory);
        ASSERT_TRUE(reopened.open()) << crashAt;
        std::vector<std::string> got;
        for (;;) {
            backlog::BacklogStore::Oldest p = reopened.oldest();
            ASSERT_TRUE(p.status) << crashAt;
            if (!p.found)
                break;
            if (p.good)
                got.push_back(nameOf(p.body));
            ASSERT_TRUE(reopened.takeOldest()) << crashAt;
        }
        expectNothingLost(got, run, crashAt, "this store");
    }
}
