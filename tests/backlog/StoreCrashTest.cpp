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

// A message's name: its body up to the first ';' (the rest pads it out).
std::string nameOf(const Bytes& body)
{
    std::string s(body.begin(), body.end());
    return s.substr(0, s.find(';'));
}

// Drains a directory by the files' own rules, as any reader of them does: an index that is not
// whole counts as empty (the store makes it anew); its Count says how many records are left;
// each is taken from the front of the read file; once that file is used up, reading moves on
// to the next unless it is the write file; an empty read file while Count is left clears the
// store.
std::vector<std::string> drainByTheRules(const fs::path& dir)
{
    std::vector<std::string> names;
    const Bytes index = readFile(dir / "backsoob.dat");
    if (index.size() != 16 || platform::readU32(index.data()) != 0x0FEEFFFF)
        return names;
    std::int32_t readN = platform::readI32(&index[8]);
    const std::int32_t writeN = platform::readI32(&index[12]);
    std::size_t at = 0; // where the read file's records left begin
    for (std::int32_t count = platform::readI32(&index[4]); count > 0; --count) {
        const fs::path file = dir / ("bs" + std::to_string(readN) + ".dat");
        if (!fs::exists(file)) {
            ADD_FAILURE() << "the index names " << file << ", which is not there";
            return names;
        }
        const Bytes bytes = readFile(file);
        const std::size_t left = bytes.size() - at;
        const HeadRecord head = backlog::findHeadRecord(bytes.data() + at, left, left);
        if (head.kind == HeadRecord::Kind::None)
            return names; // the store is cleared
        const std::uint8_t* body = bytes.data() + at + head.bodyOffset;
        if (head.kind == HeadRecord::Kind::Good && head.code != 0)
            names.push_back(nameOf(Bytes(body, body + head.bodyLength)));
        at += static_cast<std::size_t>(head.end);
        if (at == bytes.size() && readN != writeN) {
            ++readN;
            at = 0;
        }
    }
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
    int next = 0; // the next message's number
    auto add = [&](int n, std::size_t size = 20) {
        for (const int end = next + n; next < end; ++next) {
            std::string body = "m" + std::to_string(next) + ";" + std::string(size, 'x');
            if (store.append(0x022000C7, Bytes(body.begin(), body.end())))
                run.stored.push_back("m" + std::to_string(next));
        }
    };
    auto takeAndSync = [&](int n) {
        for (int i = 0; i < n; ++i) {
            backlog::BacklogStore::Oldest p = store.oldest();
            if (p.status && p.found && store.takeOldest())
                ++run.taken;
        }
        (void)store.sync();
    };
    add(1, 1'000'000);
    add(7);
    takeAndSync(3);
    add(3);
    takeAndSync(4);
    takeAndSync(4);
    add(2);
    takeAndSync(0);
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

// The first run is not killed, and counts the changes that the runs after it are killed after.
TEST(StoreCrashTest, AKillAtAnyStepLosesNothing)
{
    long changes = 0;
    for (long crashAt = -1; crashAt <= changes; ++crashAt) {
        fakes::TempDir dir(fakes::TempDir::memoryBase());
        ScenarioRun run;
        {
            fakes::FaultyFileSystem files;
            files.crashAfter(crashAt);
            backlog::BacklogStore store(dir.path(), files);
            store.setSubdirectoryName(backlog::kStoreDirectory);
            if (store.open())
                run = scenario(store);
            if (crashAt < 0) {
                ASSERT_EQ(13u, run.stored.size());
                ASSERT_EQ(11, run.taken);
                changes = files.changes();
                ASSERT_GT(changes, 15);
            }
        } // the dead process's store goes; it can change nothing more

        const fs::path dd8 = fs::path(dir.path()) / "dd8";
        if (!fs::exists(dd8 / "backsoob.dat"))
            continue; // killed before the store existed
        expectNothingLost(drainByTheRules(dd8), run, crashAt, "read by the rules");

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
