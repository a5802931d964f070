// backlog/TBackSoob.h: the on-disk first-in, first-out store of messages that could not go to
// the message server at once. It survives restarts.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "backlog/RecordFormat.h"
#include "backlog/StoreStatus.h"
#include "platform/BinaryFile.h"
#include "platform/Files.h"

namespace backlog {

// The subdirectory the client keeps its store in.
inline constexpr const char* kStoreDirectory = "dd8";

// Files, all in base directory / subdirectory:
//   backsoob.dat   the index: signature, Count, read number, write number (16 bytes)
//   bs<N>.dat      data file N: records appended at the end, taken from the front; a new file
//                  is started once the write file is longer than 1 000 000 bytes
//   bs<N>.tmp      the next contents of data file N while it is being rewritten
//
// AddMessage runs on the window's thread; OpenStore, PeekOldest, DeleteOldest and ClearStore on
// the client thread. They serialise on one re-entrant lock shared by every store in the process.
// Every operation that touches the disk reports a StoreStatus: a file that could not be opened,
// created, read, written, renamed or deleted, with the system's reason, or the store used before
// OpenStore made it ready. A failed operation leaves the index saying no more was removed than
// was; what it means for the message at hand is the caller's decision.
class TBackSoob
{
public:
    explicit TBackSoob(std::string baseDirectory = platform::currentDirectory());

    TBackSoob(const TBackSoob&) = delete;
    TBackSoob& operator=(const TBackSoob&) = delete;

    // Before OpenStore. The client sets kStoreDirectory.
    void setSubdirectoryName(std::string name) { m_subdirectory = std::move(name); }

    // Creates the subdirectory when missing and loads the index. The index is checked against
    // the data files on disk; when it is missing, has a wrong signature or disagrees with them
    // (a record outside the read..write range, or a Count other than the number of records that
    // removing one at a time would take), read number, write number and Count are rebuilt
    // from the files. A consistent index is left untouched; a fresh directory gets the empty
    // 16-byte index. Leftover .tmp files of an interrupted rewrite are removed.
    // With an empty subdirectory name the store stays closed and every operation fails.
    StoreStatus OpenStore();
    bool isOpen() const;

    // Appends one record to the write file. A body above 16 MiB is refused (nothing the gateway
    // sends comes near it).
    StoreStatus AddMessage(std::uint32_t code, const Bytes& body);

    // The oldest record, left in place.
    struct Peek
    {
        StoreStatus status; // not ok: nothing could be read; the rest is empty
        // False with an empty body when the record is damaged (code as read, 0 if unreadable);
        // the caller drops it with DeleteOldest. Also false, with code 0, when no data file
        // holds a record: the store has then been cleared (ClearStore).
        bool good = false;
        std::uint32_t code = 0;
        Bytes body;
    };
    // Empty or missing data files before the write file are skipped and deleted.
    Peek PeekOldest();

    // Removes the oldest record, damaged or not. Nothing when Count is 0 or less. The data file
    // is rewritten through bs<N>.tmp renamed over it, so it is always the old file or the new
    // one, never a cut one; Count is written after the rewrite.
    StoreStatus DeleteOldest();

    // Deletes the data files from the read number to the write number and zeroes Count and both
    // numbers in the index.
    StoreStatus ClearStore();

    // Any thread, without the lock: a stale value only delays or repeats a check.
    std::int32_t Count() const { return m_count.load(std::memory_order_relaxed); }

    std::int32_t readNumber() const;
    std::int32_t writeNumber() const;

    std::string dataFilePath(std::int32_t n) const;
    std::string indexFilePath() const;

private:
    struct Head
    {
        HeadRecord record;
        Bytes bytes; // the file's bytes the record was found in (the whole file when Damaged)
        std::uint64_t fileSize = 0;
    };

    StoreStatus requireOpen() const;
    // The oldest record of data file n; its kind is None when the file is missing or holds none.
    StoreStatus readHead(std::int32_t n, bool wholeFile, Head& head) const;
    // Moves to the first data file that holds a record, deleting the empty ones before the write
    // file. found is false when none holds a record.
    StoreStatus seekOldest(Head& head, bool wholeFile, bool& found);
    StoreStatus removeHead(const Head& head);
    StoreStatus writeIndexField(std::uint64_t offset, std::int32_t value);
    StoreStatus writeWholeIndex();
    StoreStatus rebuildIfInconsistent(bool indexLoaded);
    void setCount(std::int64_t count);

    static std::recursive_mutex& storeLock();

    const std::string m_base;
    std::string m_subdirectory;
    std::string m_directory; // base / subdirectory, once open
    bool m_open = false;
    std::atomic<std::int32_t> m_count{0};
    std::int32_t m_readNumber = 0;  // guarded by storeLock()
    std::int32_t m_writeNumber = 0; // guarded by storeLock()
};

} // namespace backlog
