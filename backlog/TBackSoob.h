// backlog/TBackSoob.h: the on-disk first-in, first-out store of messages that could not go to
// the message server at once. It survives restarts.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>

#include "backlog/RecordFormat.h"
#include "platform/BinaryFile.h"
#include "platform/Files.h"

namespace backlog {

// The subdirectory the client keeps its store in.
inline constexpr const char* kStoreDirectory = "dd8";

// A file of the store could not be opened, created, read, written, renamed or deleted, or the
// store is used before OpenStore made it ready. Every operation raises it to its caller; the
// store lock is released on the way out, and no operation leaves the index saying more was
// removed than was.
class StoreError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Files, all in base directory / subdirectory:
//   backsoob.dat   the index: signature, Count, read number, write number (16 bytes)
//   bs<N>.dat      data file N: records appended at the end, taken from the front; a new file
//                  is started once the write file is longer than 1 000 000 bytes
//   bs<N>.tmp      the next contents of data file N while it is being rewritten
//
// AddMessage runs on the window's thread; OpenStore, PeekOldest, DeleteOldest and ClearStore on
// the client thread. They serialise on one re-entrant lock shared by every store in the process.
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
    // With an empty subdirectory name the store stays closed and every operation raises.
    void OpenStore();

    // Appends one record to the write file. A body above 16 MiB raises StoreError (nothing the
    // gateway sends comes near it).
    void AddMessage(std::uint32_t code, const Bytes& body);

    // The oldest record, left in place. False with an empty body when it is damaged (code as
    // read, 0 if unreadable); the caller drops it with DeleteOldest. Empty or missing data
    // files before the write file are skipped and deleted; when the write file too holds no
    // record, the whole store is cleared (ClearStore) and the result is false with code 0.
    bool PeekOldest(std::uint32_t& code, Bytes& body);

    // Removes the oldest record, damaged or not. Nothing when Count is 0 or less. The data file
    // is rewritten through bs<N>.tmp renamed over it, so it is always the old file or the new
    // one, never a cut one; Count is written after the rewrite.
    void DeleteOldest();

    // Deletes the data files from the read number to the write number and zeroes Count and both
    // numbers in the index.
    void ClearStore();

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

    void requireOpen() const;
    // The oldest record of data file n; its kind is None when the file is missing or holds none.
    Head readHead(std::int32_t n, bool wholeFile) const;
    // Moves to the first data file that holds a record, deleting the empty ones before the write
    // file. False when none holds a record.
    bool seekOldest(Head& head, bool wholeFile);
    void removeHead(const Head& head);
    void writeIndexField(std::uint64_t offset, std::int32_t value);
    void writeWholeIndex();
    void rebuildIfInconsistent(bool indexLoaded);
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
