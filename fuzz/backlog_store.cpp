// fuzz/backlog_store.cpp: the backlog store opened over a directory of fuzzed files, drained,
// written to and opened again.
//
// Input: sections, each a kind byte and a 16-bit length with that many bytes: kind 0 is the
// index backsoob.dat, kinds 1 to 8 the data files bs0.dat to bs7.dat, kind 9 a data file whose
// number is the four bytes before the length. Any other kind ends the sections; the rest of the
// input then steers the drain, one byte per record: 0x01 syncs before the removal, 0x02 opens
// the store again first.
//
// Properties: the store opens; peek and remove take it to empty within as many steps as the
// files have bytes (from each reopening on), each removal lowering the number of waiting records by
// exactly one, but never to none while a record is left (an index may count too few); two messages
// added then come back unchanged and in order after the store is opened again, with no other whole
// record before or between them (damaged stretches taken before may come back).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "backlog/BacklogStore.h"
#include "fuzz/FuzzCheck.h"
#include "platform/Files.h"

namespace {

using platform::Bytes;

constexpr std::uint32_t kDataMessage = 0x022000C7;

std::unique_ptr<backlog::BacklogStore> openStore(const std::string& directory)
{
    auto store = std::make_unique<backlog::BacklogStore>(directory);
    store->setSubdirectoryName(backlog::kStoreDirectory);
    const backlog::StoreStatus s = store->open();
    FUZZ_CHECK(s.isOk(), "the store does not open: " + s.text());
    return store;
}

// Lays out the files; their bytes in all.
std::size_t writeFiles(fuzz::Input& in, const std::string& directory)
{
    std::size_t total = 0;
    for (;;) {
        const std::uint8_t kind = in.byte();
        std::string name;
        if (kind == 0) {
            name = "backsoob.dat";
        } else if (kind <= 8) {
            name = "bs" + std::to_string(kind - 1) + ".dat";
        } else if (kind == 9) {
            const std::uint32_t n = in.u16() | static_cast<std::uint32_t>(in.u16()) << 16;
            name = "bs" + std::to_string(n & 0x7FFFFFFF) + ".dat";
        } else {
            return total;
        }
        const Bytes bytes = in.chunk();
        total += bytes.size();
        fuzz::writeFile(platform::joinPath(directory, name), bytes);
        if (in.empty())
            return total;
    }
}

void drain(std::unique_ptr<backlog::BacklogStore>& store, fuzz::Input& steps,
           const std::string& base, std::size_t maxRecords)
{
    bool countedNone = false; // the last removal left the store counting nothing waiting
    for (std::size_t taken = 0;; ++taken) {
        FUZZ_CHECK(taken <= maxRecords, "the store does not run empty");
        const std::uint8_t step = steps.byte();
        if (step & 0x01)
            (void)store->sync();
        if (step & 0x02) {
            store.reset();
            store = openStore(base);
            taken = 0; // damaged stretches taken before come back
            countedNone = false;
        }
        const backlog::BacklogStore::Oldest peek = store->oldest();
        FUZZ_CHECK(peek.status.isOk(), "peek failed: " + peek.status.text());
        if (!peek.found)
            break;
        FUZZ_CHECK(!countedNone, "a record was left after the waiting count went to none");
        FUZZ_CHECK(peek.good || peek.body.empty(), "a damaged record with a body");
        const std::int64_t before = store->pendingCount();
        const backlog::StoreStatus removed = store->takeOldest();
        FUZZ_CHECK(removed.isOk(), "removal failed: " + removed.text());
        const std::int64_t after = store->pendingCount();
        FUZZ_CHECK(after == before - 1 || (before == 1 && after == 1),
                   "a removal took the waiting records from " + std::to_string(before) + " to " +
                       std::to_string(after));
        countedNone = after == 0;
    }
    FUZZ_CHECK(store->pendingCount() == 0,
               "an empty store counts " + std::to_string(store->pendingCount()) + " waiting");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string base = fuzz::scratchDirectory();
    static const std::string directory = platform::joinPath(base, backlog::kStoreDirectory);
    fuzz::emptyDirectory(base);
    platform::createDirectory(directory);

    fuzz::Input in(data, size);
    const std::size_t bytes = writeFiles(in, directory);
    auto store = openStore(base);
    drain(store, in, base, bytes + 1);

    // The appends go to the end of the write file as a sync leaves it.
    FUZZ_CHECK(store->sync().isOk(), "sync of a drained store failed");
    const Bytes first = {'{', '}'};
    const Bytes second(300, 'x');
    FUZZ_CHECK(store->append(kDataMessage, first).isOk() &&
                   store->append(kDataMessage, second).isOk() && store->sync().isOk(),
               "adding to a drained store failed");
    store.reset();
    store = openStore(base);
    for (const Bytes* expected : {&first, &second}) {
        backlog::BacklogStore::Oldest peek = store->oldest();
        // A damaged stretch taken before is not marked on the disk and comes back; it carries no
        // message and is dropped unsent again.
        for (int i = 0; peek.status.isOk() && peek.found && !peek.good && i < 1000; ++i) {
            FUZZ_CHECK(store->takeOldest().isOk(), "removal after a reopen failed");
            peek = store->oldest();
        }
        const bool unchanged = peek.status.isOk() && peek.found && peek.good &&
                               peek.code == kDataMessage && peek.body == *expected;
        FUZZ_CHECK(unchanged, "an added message did not come back unchanged after a reopen; came " +
                                  (peek.found ? std::string(peek.good ? "a good" : "a damaged") +
                                                    " record of code " + std::to_string(peek.code)
                                              : std::string("nothing")));
        FUZZ_CHECK(store->takeOldest().isOk(), "removal after a reopen failed");
    }
    return 0;
}
