// backlog/BacklogStore.h: the on-disk first-in, first-out store of the messages on their way to
// the message server. It survives restarts, and a process killed at any instant.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "backlog/RecordFormat.h"
#include "backlog/StoreStatus.h"
#include "platform/FileSystem.h"
#include "platform/Files.h"

namespace backlog {

// The subdirectory the client keeps its store in.
inline constexpr const char* kStoreDirectory = "dd8";

// Files, all in base directory / subdirectory:
//   backsoob.dat   the index: signature, Count, read number, write number (16 bytes)
//   bs<N>.dat      data file N: records appended at the end, taken from the front; a new file
//                  is started once the write file is longer than 1 000 000 bytes
//
// Starting a data file never empties one of that name: an empty one is taken as it is; one that
// holds bytes (a used-up file whose removal failed, or one put there by hand) is left as it is,
// and append fails with Damaged, naming it, until the store is opened again and takes its
// records in with the rest. Used-up files left behind are removed again before the numbers
// start over at 0, so the numbers do not come round to them.
//
// Taking the oldest record costs no rewrite. The store keeps its read position in memory and
// marks taken records on disk in batches by setting their message code to 0, the code of a
// record that is to be taken away unsent; a data file is deleted once every record in it is
// taken, and the write file is emptied once the store holds nothing more. Count is the number of
// records in the files from the read file on, taken or not, as every reader of these files
// counts them; between two syncs the index may count a few records too many, never too few,
// unless the power failed: a flush may have made records last that the index did not count yet.
// Reading goes by the files, never by Count, so those go too.
// A process killed at any instant leaves files that open with nothing lost; records taken since
// the last sync come back and go again (duplicates, never losses). A power cut loses only what
// no sync made last: every record appended before a sync that returned ok was called comes
// back, unless it was taken and a sync ran after that (one called, or still flushing, after the
// take); none taken before a sync that returned ok was called comes back.
//
// Opening trusts a consistent index and looks only at the read and the write file, so it costs
// the same for ten records as for a million; an index that is missing or contradicts the files
// is rebuilt from all of them. The index file stays locked while the store is open, so a second
// gateway in the same directory cannot open it.
//
// append runs on the window's thread, oldest and takeOldest on the client thread, sync on any;
// they serialise on the store's lock, which a sync lets go while the disk flushes (syncs run one
// at a time, and open waits for a running one). Every operation that touches the disk reports a
// StoreStatus with the system's reason; a failed operation changes nothing that the files or a
// later operation depend on. Only a data file that is not there counts as missing, and is
// stepped past; one that cannot be opened or read for any other reason (too many open files,
// no rights, a failing disk), or a directory that cannot be listed, fails the operation, and
// nothing is skipped, retired or removed for it: the same call works once the fault is gone.
class BacklogStore
{
public:
    explicit BacklogStore(std::string baseDirectory = platform::currentDirectory(),
                          platform::FileSystem& files = platform::osFileSystem());
    ~BacklogStore(); // syncs, best effort

    BacklogStore(const BacklogStore&) = delete;
    BacklogStore& operator=(const BacklogStore&) = delete;

    // Before open. The client sets kStoreDirectory.
    void setSubdirectoryName(std::string name) { m_subdirectory = std::move(name); }

    // Creates the subdirectory when missing, locks and loads the index and makes the write file
    // ready: a record cut off at its end by a crash is cut away, so the next append starts
    // clean. May be called again after a failure.
    StoreStatus open();
    bool isOpen() const;

    // Appends one record to the write file (written, not yet synced, when it returns ok). A
    // body above 16 MiB is refused. A failed append leaves the file as it was.
    StoreStatus append(std::uint32_t code, const Bytes& body);

    // The oldest record not yet taken, left in place.
    struct Oldest
    {
        StoreStatus status; // not ok: nothing could be read; the rest is empty
        bool found = false; // false: the store holds no record
        // False with an empty body when the record is damaged (code as read, 0 if
        // unreadable); the caller drops it with takeOldest.
        bool good = false;
        std::uint32_t code = 0;
        Bytes body;
        // Which of this run's appends it is, counting from 0; -1 for a record that was in the
        // store when it was opened.
        std::int64_t appendIndex = -1;
    };
    // Records with code 0 are taken away on the way, unsent.
    Oldest oldest();

    // Takes the oldest record, damaged or not. Nothing when the store holds none, or when it
    // fails (the record could not be read).
    StoreStatus takeOldest();

    // Makes what was done before the call last: marks the taken records, empties the write file
    // when everything in it is taken, and flushes the data files, the index and the directory.
    // Ok: every record appended before the call is on the disk (its data file's bytes, and the
    // directory entries of the files and the directory made for it), and every take before the
    // call is too (its mark, the emptied write file, or the index past its used-up file). Not
    // ok: some of that may not be on the disk; the next sync tries all of it again.
    // Any thread. The flushes run without the store's lock: appends and takes go on meanwhile,
    // and what they do waits for the next sync (a take may be made last by this one). The caller
    // decides how often (the gateway: at most every 50 ms).
    StoreStatus sync();

    // Any thread, without the lock: records from the read file on, taken or not (the index's
    // Count), and records not yet taken.
    std::int32_t recordCount() const { return m_count.load(std::memory_order_relaxed); }
    std::int64_t pendingCount() const { return m_pending.load(std::memory_order_relaxed); }

    std::int32_t readNumber() const;
    std::int32_t writeNumber() const;

    std::string dataFilePath(std::int32_t n) const;
    std::string indexFilePath() const;

private:
    // A data file opened and read from the front.
    struct LoadedFile
    {
        std::unique_ptr<platform::File> file; // null: the file is not there
        std::uint64_t size = 0;
        Bytes bytes; // its first bytes, as many as were asked for
    };

    // Asserts what holds between operations (debug builds); the guard checks it when an
    // operation under the lock returns.
    void checkInvariants() const;
    struct InvariantCheck
    {
        const BacklogStore& store;
        ~InvariantCheck() { store.checkInvariants(); }
    };

    StoreStatus fail(const std::string& what) const;
    void setCount(std::int64_t count);
    bool isEmptyFile(const std::string& path) const;
    StoreStatus writeIndex(std::uint64_t offset, const std::vector<std::int32_t>& values);
    // Data file n's first limit bytes.
    StoreStatus loadDataFile(std::int32_t n, std::uint64_t limit, LoadedFile& out) const;
    StoreStatus listDirectory(std::vector<std::string>& names) const;
    StoreStatus listDataFiles(std::vector<std::int32_t>& numbers) const; // in order
    // All of them are taken.
    StoreStatus removeFilesBeforeReadFile(const std::vector<std::int32_t>& numbers);

    // Opening.
    void resetState();
    StoreStatus openLocked();
    StoreStatus lockIndex();
    // Takes the numbers from an index that agrees with the files, or rebuilds it from them.
    StoreStatus loadIndex(std::vector<std::int32_t> numbers);
    StoreStatus readIndex(bool& valid);
    StoreStatus rebuild(const std::vector<std::int32_t>& numbers);
    StoreStatus prepareWriteFile();
    StoreStatus takeWriteFile(LoadedFile file, const FileScan& scan);
    // Count and waiting records once the read file is open.
    StoreStatus settleCounts(std::int64_t recordsInWriteFile);

    // Appending.
    StoreStatus reserveCount();
    // Data file n as a new write file: created, or an empty one taken as it is; never one that
    // holds bytes.
    StoreStatus createDataFile(std::int32_t n, std::shared_ptr<platform::File>& file);
    StoreStatus rollOver();

    // Reading. openReadFile steps over the marked records at the file's front.
    StoreStatus openReadFile();
    void resetReadPosition();
    std::uint64_t readableEnd() const;
    const std::uint8_t* cacheAt(std::uint64_t offset) const;
    bool inThisRun() const;
    // Parses the record at the read position, reading more of the file as needed; found is
    // false when none is left in the store.
    StoreStatus locateHead(HeadRecord& head, bool& found);
    // Moves the read position on to the first file with bytes left, retiring used-up and
    // missing files on the way; more is false when nothing is left.
    StoreStatus reachUntakenBytes(bool& more);
    // NeedMore: the cache holds more now (or the end has moved), look again.
    StoreStatus parseHead(HeadRecord& head);
    StoreStatus fillCache(std::uint64_t upTo);
    void consumeHead(const HeadRecord& head);
    StoreStatus retireReadFile();

    // Syncing. A data file written since the last sync, kept open until a sync has flushed it,
    // whatever happens to it meanwhile (a roll-over, its removal, the numbers starting over).
    struct Unsynced
    {
        std::shared_ptr<platform::File> file;
        std::int32_t number; // its name when it was written
    };
    // What one sync flushes, without the lock; what is left in it after the flush failed.
    struct FlushPlan
    {
        std::vector<Unsynced> files;
        std::shared_ptr<platform::File> index; // null: the index needs no flush
        bool directory = false;
        bool base = false;
    };
    void noteUnsynced(const std::shared_ptr<platform::File>& file, std::int32_t n);
    // Under the lock: the marks, the emptied write file, the numbers starting over and Count.
    StoreStatus settleTakes();
    StoreStatus catchUpIndex();
    StoreStatus emptyWriteFile();
    StoreStatus writeMarks();
    StoreStatus renumberFromZero();
    FlushPlan takeFlushPlan();
    // Without the lock.
    StoreStatus flush(FlushPlan& plan) const;
    StoreStatus flushDirectory(bool& toSync, const std::string& path) const;
    // Under the lock again.
    void keepUnflushed(FlushPlan plan);

    platform::FileSystem& m_files;
    const std::string m_base;
    std::string m_subdirectory;
    std::string m_directory; // base / subdirectory, once open

    std::mutex m_syncMutex; // held through a sync, and by open; taken before m_mutex
    mutable std::mutex m_mutex;
    bool m_open = false; // guarded by m_mutex, like everything below but the atomics
    std::shared_ptr<platform::File> m_index; // kept open: it holds the lock
    std::int32_t m_readNumber = 0;
    std::int32_t m_writeNumber = 0;
    std::atomic<std::int32_t> m_count{0};
    std::int64_t m_countOnDisk = 0; // what the index says; never below m_count
    std::atomic<std::int64_t> m_pending{0};

    // Writing.
    std::shared_ptr<platform::File> m_writeFile;
    std::uint64_t m_writeSize = 0;
    bool m_rollBeforeAppend = false; // the write file holds damage: the next record starts a file

    // What the next sync flushes.
    std::vector<Unsynced> m_unsynced; // in the order they were first written
    bool m_directoryToSync = false;
    bool m_indexToSync = false;
    bool m_baseToSync = false;  // the base directory, where the store's directory is
    bool m_indexBehind = false; // a read file retired in memory whose index write failed

    // Reading: the read file, the read position and the bytes from the first taken record that
    // is not yet marked on disk.
    std::shared_ptr<platform::File> m_readFile;
    std::uint64_t m_readFileSize = 0; // when it is not the write file
    std::uint64_t m_readOffset = 0;
    std::uint64_t m_markedOffset = 0;
    Bytes m_cache;                              // the read file's bytes from the marked offset on
    std::vector<std::uint64_t> m_unmarkedCodes; // file offsets of taken records' codes
    std::int64_t m_takenInReadFile = 0;         // records taken from it, marked ones included

    // Where this run's first append went, and how many of this run's appends are taken.
    std::int32_t m_runStartFile = 0;
    std::uint64_t m_runStartOffset = 0;
    bool m_olderGone = false;
    std::int64_t m_appendsTaken = 0;
};

} // namespace backlog
