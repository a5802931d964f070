// backlog/BacklogStore.cpp
#include "backlog/BacklogStore.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <string_view>
#include <utility>

namespace backlog {

namespace {

using platform::File;
using platform::FileSystem;

constexpr const char* kIndexName = "backsoob.dat";
constexpr const char* kDataSuffix = ".dat";
constexpr const char* kTempSuffix = ".tmp";

// loadDataFile's limit for all of a file.
constexpr std::uint64_t kWholeFile = std::numeric_limits<std::uint64_t>::max();

// How much of the read file is read at a time; records are far smaller, so a read brings many.
constexpr std::size_t kReadChunk = 64 * 1024;

// Far beyond any message the gateway produces, and small enough that a record can never wrap
// the signed length field.
constexpr std::size_t kMaxBodyLength = 16u * 1024 * 1024;

// The index counts this many records ahead of the appends, so that it is written once per so
// many appends and a crash leaves it too high (harmless), never too low.
constexpr std::int64_t kCountReserve = 64;

// "bs<N><suffix>" with N in decimal without leading zeros, within 0..INT32_MAX.
bool parseNumberedName(const std::string& name, std::string_view suffix, std::int32_t* n)
{
    if (name.size() <= 2 + suffix.size() || name.compare(0, 2, "bs") != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    std::string_view digits(name.data() + 2, name.size() - 2 - suffix.size());
    if (digits.size() > 10 || (digits.size() > 1 && digits[0] == '0'))
        return false;
    std::int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value > std::numeric_limits<std::int32_t>::max())
        return false;
    *n = static_cast<std::int32_t>(value);
    return true;
}

std::int32_t clampToI32(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// The numbers of the data files among a directory's names, in order.
std::vector<std::int32_t> dataFileNumbers(const std::vector<std::string>& names)
{
    std::vector<std::int32_t> numbers;
    for (const std::string& name : names) {
        std::int32_t n = 0;
        if (parseNumberedName(name, kDataSuffix, &n))
            numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// Keeps the first failure of steps that all run.
void keepFirst(StoreStatus& first, StoreStatus next)
{
    if (first && !next)
        first = std::move(next);
}

} // namespace

BacklogStore::BacklogStore(std::string baseDirectory, FileSystem& files)
    : m_files(files), m_base(std::move(baseDirectory))
{
}

BacklogStore::~BacklogStore()
{
    if (isOpen())
        (void)sync(); // best effort: whatever it could not do comes back as duplicates
}

std::string BacklogStore::indexFilePath() const
{
    return platform::joinPath(platform::joinPath(m_base, m_subdirectory), kIndexName);
}

std::string BacklogStore::dataFilePath(std::int32_t n) const
{
    return platform::joinPath(platform::joinPath(m_base, m_subdirectory),
                              "bs" + std::to_string(n) + kDataSuffix);
}

std::int32_t BacklogStore::readNumber() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_readNumber;
}

std::int32_t BacklogStore::writeNumber() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_writeNumber;
}

bool BacklogStore::isOpen() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

StoreStatus BacklogStore::fail(const std::string& what) const
{
    return StoreStatus::fromError(what, m_files.lastError());
}

void BacklogStore::setCount(std::int64_t count)
{
    m_count.store(clampToI32(std::max<std::int64_t>(count, 0)), std::memory_order_relaxed);
}

bool BacklogStore::isEmptyFile(const std::string& path) const
{
    std::unique_ptr<File> file = m_files.open(path, FileSystem::Open::Existing);
    std::optional<std::uint64_t> size = file ? file->size() : std::nullopt;
    return size && *size == 0;
}

StoreStatus BacklogStore::writeIndex(std::uint64_t offset, const std::vector<std::int32_t>& values)
{
    Bytes bytes(values.size() * 4);
    for (std::size_t i = 0; i < values.size(); ++i)
        platform::writeI32(&bytes[i * 4], values[i]);
    if (!m_index->writeAt(offset, bytes.data(), bytes.size()))
        return fail("write " + indexFilePath());
    m_indexToSync = true;
    return StoreStatus::ok();
}

StoreStatus BacklogStore::loadDataFile(std::int32_t n, std::uint64_t limit, LoadedFile& out) const
{
    const std::string path = dataFilePath(n);
    out.file = m_files.open(path, FileSystem::Open::Existing);
    if (!out.file) // only a file that is not there is missing; any other failure is one
        return platform::isNotFoundError(m_files.lastError()) ? StoreStatus::ok()
                                                              : fail("open " + path);
    std::optional<std::uint64_t> size = out.file->size();
    if (!size)
        return fail("get the size of " + path);
    out.size = *size;
    out.bytes.resize(static_cast<std::size_t>(std::min(*size, limit)));
    std::optional<std::size_t> got = out.file->readAt(0, out.bytes.data(), out.bytes.size());
    if (!got)
        return fail("read " + path);
    out.bytes.resize(*got);
    return StoreStatus::ok();
}

StoreStatus BacklogStore::listDirectory(std::vector<std::string>& names) const
{
    std::optional<std::vector<std::string>> listed = m_files.listFiles(m_directory);
    if (!listed)
        return fail("list " + m_directory);
    names = std::move(*listed);
    return StoreStatus::ok();
}

StoreStatus BacklogStore::listDataFiles(std::vector<std::int32_t>& numbers) const
{
    std::vector<std::string> names;
    if (StoreStatus s = listDirectory(names); !s)
        return s;
    numbers = dataFileNumbers(names);
    return StoreStatus::ok();
}

StoreStatus BacklogStore::removeFilesBeforeReadFile(const std::vector<std::int32_t>& numbers)
{
    StoreStatus first;
    for (std::int32_t n : numbers)
        if (n < m_readNumber && !m_files.removeFile(dataFilePath(n)))
            keepFirst(first, fail("remove " + dataFilePath(n)));
    return first;
}

StoreStatus BacklogStore::open()
{
    std::lock_guard<std::mutex> syncing(m_syncMutex); // no sync is flushing what it lets go
    std::lock_guard<std::mutex> lock(m_mutex);
    const InvariantCheck check{*this};
    StoreStatus status = openLocked();
    if (!status) {
        m_index.reset(); // lets go of the lock
        m_writeFile.reset();
        m_readFile.reset();
    }
    m_open = status.isOk();
    return status;
}

void BacklogStore::resetState()
{
    m_open = false;
    m_index.reset();
    m_writeFile.reset();
    m_readFile.reset();
    resetReadPosition();
    m_readNumber = m_writeNumber = 0;
    m_writeSize = 0;
    m_rollBeforeAppend = false;
    setCount(0);
    m_countOnDisk = 0;
    m_pending = 0;
    m_unsynced.clear();
    m_directoryToSync = m_indexToSync = m_baseToSync = m_indexBehind = false;
}

StoreStatus BacklogStore::openLocked()
{
    resetState();
    if (m_subdirectory.empty())
        return StoreStatus::fromError("open a backlog store without a directory name", 0);
    m_directory = platform::joinPath(m_base, m_subdirectory);
    if (!m_files.directoryExists(m_directory) && !m_files.createDirectory(m_directory))
        return fail("create " + m_directory);
    // The directory's entry is flushed by the first sync of every run, as the run that made it
    // may have lost the power before it was on the disk.
    m_baseToSync = true;
    if (StoreStatus s = lockIndex(); !s)
        return s;
    std::vector<std::string> names;
    if (StoreStatus s = listDirectory(names); !s)
        return s;
    // A .tmp file is a rewrite of an older store that never got renamed: its data file is
    // still the whole old one.
    for (const std::string& name : names) {
        std::int32_t n = 0;
        if (parseNumberedName(name, kTempSuffix, &n))
            m_files.removeFile(platform::joinPath(m_directory, name));
    }
    if (StoreStatus s = loadIndex(dataFileNumbers(names)); !s)
        return s;
    m_countOnDisk = recordCount();
    return prepareWriteFile();
}

StoreStatus BacklogStore::lockIndex()
{
    const std::string path = indexFilePath();
    m_index = m_files.open(path, FileSystem::Open::OrCreate);
    if (!m_index)
        return fail("open " + path);
    if (!m_index->tryLock())
        return fail("lock " + path + " (another gateway uses this backlog)");
    return StoreStatus::ok();
}

StoreStatus BacklogStore::loadIndex(std::vector<std::int32_t> numbers)
{
    std::optional<std::uint64_t> size = m_index->size();
    if (!size)
        return fail("get the size of " + indexFilePath());
    if (*size == 0 && numbers.empty()) // a fresh directory: the empty index
        return writeIndex(0, {static_cast<std::int32_t>(kSignature), 0, 0, 0});
    bool valid = false;
    if (*size == kIndexSize)
        if (StoreStatus s = readIndex(valid); !s)
            return s;
    if (!valid)
        return rebuild(numbers);
    // An empty file past the write file is a roll-over a crash cut short: it goes.
    while (!numbers.empty() && numbers.back() > m_writeNumber &&
           isEmptyFile(dataFilePath(numbers.back()))) {
        if (!m_files.removeFile(dataFilePath(numbers.back())))
            return fail("remove " + dataFilePath(numbers.back()));
        numbers.pop_back();
    }
    if (m_readNumber < 0 || m_readNumber > m_writeNumber ||
        (!numbers.empty() && numbers.back() > m_writeNumber))
        return rebuild(numbers);
    // Files before the read file are what a crash left of a deletion: all taken. One that stays
    // is tried again before the numbers start over.
    (void)removeFilesBeforeReadFile(numbers);
    return StoreStatus::ok();
}

StoreStatus BacklogStore::readIndex(bool& valid)
{
    std::uint8_t bytes[kIndexSize];
    std::optional<std::size_t> got = m_index->readAt(0, bytes, sizeof bytes);
    if (!got)
        return fail("read " + indexFilePath());
    valid = *got == kIndexSize && platform::readU32(bytes) == kSignature;
    if (valid) {
        setCount(platform::readI32(bytes + kCountOffset));
        m_readNumber = platform::readI32(bytes + kReadNumberOffset);
        m_writeNumber = platform::readI32(bytes + kWriteNumberOffset);
    }
    return StoreStatus::ok();
}

StoreStatus BacklogStore::rebuild(const std::vector<std::int32_t>& numbers)
{
    // Only for an index that is missing or contradicts the files: every file is read.
    std::vector<std::int64_t> records;
    for (std::int32_t n : numbers) {
        LoadedFile file;
        if (StoreStatus s = loadDataFile(n, kWholeFile, file); !s)
            return s;
        records.push_back(file.file ? countRecords(file.bytes) : 0); // 0: gone since listed
    }
    // Reading starts at the first file that holds a record, writing goes on in the last file,
    // so no file with records is ever written over by a roll-over.
    auto first = std::find_if(records.begin(), records.end(), [](auto r) { return r > 0; });
    m_writeNumber = numbers.empty() ? 0 : numbers.back();
    m_readNumber = first == records.end()
                       ? m_writeNumber
                       : numbers[static_cast<std::size_t>(first - records.begin())];
    std::int64_t total = 0;
    for (std::size_t i = 0; i < numbers.size(); ++i)
        if (numbers[i] >= m_readNumber)
            total += records[i];
    setCount(total);
    if (!m_index->truncate(0))
        return fail("empty " + indexFilePath());
    return writeIndex(
        0, {static_cast<std::int32_t>(kSignature), recordCount(), m_readNumber, m_writeNumber});
}

StoreStatus BacklogStore::prepareWriteFile()
{
    // The write file is only looked at when it exists: a fresh store has no data file until its
    // first record.
    LoadedFile file;
    if (StoreStatus s = loadDataFile(m_writeNumber, kWholeFile, file); !s)
        return s;
    FileScan scan;
    if (file.file) {
        scan = scanFile(file.bytes.data(), file.bytes.size());
        if (StoreStatus s = takeWriteFile(std::move(file), scan); !s)
            return s;
    }
    m_runStartFile = m_writeNumber;
    m_runStartOffset = m_writeSize;
    m_olderGone = false;
    m_appendsTaken = 0;
    if (StoreStatus s = openReadFile(); !s)
        return s;
    return settleCounts(scan.records);
}

StoreStatus BacklogStore::takeWriteFile(LoadedFile file, const FileScan& scan)
{
    // What follows the last whole record is a record a crash cut off (or stray bytes): it
    // goes, so the next append starts clean and no reader takes it for the next record.
    if (scan.wholeEnd < file.bytes.size() && !file.file->truncate(scan.wholeEnd))
        return fail("cut the unfinished record off " + dataFilePath(m_writeNumber));
    m_writeSize = scan.wholeEnd;
    m_writeFile = std::move(file.file);
    // A damaged stretch is read as reaching to the next whole record; records appended
    // behind it could give its length field an end marker to point at, and turn it into a
    // "record" that swallows good ones. A file holding damage gets no more appends.
    m_rollBeforeAppend = scan.damaged > 0;
    return StoreStatus::ok();
}

StoreStatus BacklogStore::settleCounts(std::int64_t recordsInWriteFile)
{
    if (m_readNumber != m_writeNumber) {
        m_pending = std::max<std::int64_t>(0, recordCount() - m_takenInReadFile);
        return StoreStatus::ok();
    }
    // Here the count is known exactly; the index may only have been too high.
    setCount(recordsInWriteFile);
    m_pending = std::max<std::int64_t>(0, recordsInWriteFile - m_takenInReadFile);
    if (m_countOnDisk == recordCount())
        return StoreStatus::ok();
    if (StoreStatus s = writeIndex(kCountOffset, {recordCount()}); !s)
        return s;
    m_countOnDisk = recordCount();
    return StoreStatus::ok();
}

StoreStatus BacklogStore::openReadFile()
{
    resetReadPosition();
    const bool isWriteFile = m_readNumber == m_writeNumber;
    LoadedFile file;
    StoreStatus s = loadDataFile(m_readNumber, isWriteFile ? m_writeSize : kWholeFile, file);
    if (!s || !file.file)
        return s; // missing: the store steps past it
    // Records taken before, and marked on disk, are stepped over at once.
    const FileScan scan = scanFile(file.bytes.data(), file.bytes.size());
    m_readFile = std::move(file.file);
    m_readFileSize = isWriteFile ? m_writeSize : file.size;
    m_readOffset = m_markedOffset = scan.leadingEnd;
    m_takenInReadFile = scan.leadingUnsent;
    return StoreStatus::ok();
}

void BacklogStore::resetReadPosition()
{
    m_readFileSize = 0;
    m_readOffset = m_markedOffset = 0;
    m_cache.clear();
    m_unmarkedCodes.clear();
    m_takenInReadFile = 0;
}

std::uint64_t BacklogStore::readableEnd() const
{
    return m_readNumber == m_writeNumber ? m_writeSize : m_readFileSize;
}

const std::uint8_t* BacklogStore::cacheAt(std::uint64_t offset) const
{
    return m_cache.data() + (offset - m_markedOffset);
}

bool BacklogStore::inThisRun() const
{
    return m_olderGone || m_readNumber > m_runStartFile ||
           (m_readNumber == m_runStartFile && m_readOffset >= m_runStartOffset);
}

StoreStatus BacklogStore::reserveCount()
{
    if (m_countOnDisk > recordCount())
        return StoreStatus::ok();
    // Counted before the record is written: a crash in between leaves the count too high.
    const std::int64_t ahead = static_cast<std::int64_t>(recordCount()) + kCountReserve;
    if (StoreStatus s = writeIndex(kCountOffset, {clampToI32(ahead)}); !s)
        return s;
    m_countOnDisk = ahead;
    return StoreStatus::ok();
}

StoreStatus BacklogStore::createDataFile(std::int32_t n, std::shared_ptr<File>& file)
{
    const std::string path = dataFilePath(n);
    std::shared_ptr<File> created = m_files.open(path, FileSystem::Open::OrCreate);
    if (!created)
        return fail("create " + path);
    std::optional<std::uint64_t> size = created->size();
    if (!size)
        return fail("get the size of " + path);
    if (*size > 0)
        return StoreStatus::damaged(
            "cannot start " + path + ": it is there already, with " + std::to_string(*size) +
            " bytes, which the backlog keeps; it takes them in when it is opened again");
    file = std::move(created);
    m_directoryToSync = true;
    return StoreStatus::ok();
}

StoreStatus BacklogStore::rollOver()
{
    if (m_writeNumber == std::numeric_limits<std::int32_t>::max())
        return StoreStatus::damaged("the backlog has run out of data file numbers");
    // The finished file is flushed by the next sync, which keeps it open till then. The new
    // file exists before the index names it, so the files never point at a data file that is
    // not there; a crash in between leaves an empty file past the write number, which the next
    // open removes.
    std::shared_ptr<File> next;
    if (StoreStatus s = createDataFile(m_writeNumber + 1, next); !s)
        return s;
    if (StoreStatus s = writeIndex(kWriteNumberOffset, {m_writeNumber + 1}); !s)
        return s;
    if (m_readNumber == m_writeNumber)
        m_readFileSize = m_writeSize; // no longer the write file: its size is final
    ++m_writeNumber;
    m_writeFile = std::move(next);
    m_writeSize = 0;
    m_rollBeforeAppend = false;
    return StoreStatus::ok();
}

StoreStatus BacklogStore::append(std::uint32_t code, const Bytes& body)
{
    if (body.size() > kMaxBodyLength)
        return StoreStatus::damaged("a message of " + std::to_string(body.size()) +
                                    " bytes is too long for the backlog");
    std::lock_guard<std::mutex> lock(m_mutex);
    const InvariantCheck check{*this};
    if (!m_open)
        return StoreStatus::fromError("add to the backlog before it is open", 0);
    if (m_writeSize > kDataFileLimit || m_rollBeforeAppend)
        if (StoreStatus s = rollOver(); !s)
            return s;
    if (!m_writeFile) // the first record of a new write file
        if (StoreStatus s = createDataFile(m_writeNumber, m_writeFile); !s)
            return s;
    if (StoreStatus s = reserveCount(); !s)
        return s;
    Bytes record = encodeRecord(code, body);
    if (!m_writeFile->writeAt(m_writeSize, record.data(), record.size())) {
        StoreStatus failed = fail("write " + dataFilePath(m_writeNumber));
        // A part that did get written is cut away again, so the file ends with a whole record;
        // if even that fails, the next append writes over it from the same place.
        (void)m_writeFile->truncate(m_writeSize);
        return failed;
    }
    m_writeSize += record.size();
    setCount(static_cast<std::int64_t>(recordCount()) + 1);
    ++m_pending;
    noteUnsynced(m_writeFile, m_writeNumber);
    return StoreStatus::ok();
}

StoreStatus BacklogStore::fillCache(std::uint64_t upTo)
{
    const std::uint64_t from = m_markedOffset + m_cache.size();
    if (upTo <= from)
        return StoreStatus::ok();
    const auto want = static_cast<std::size_t>(upTo - from);
    const std::size_t have = m_cache.size();
    m_cache.resize(have + want);
    std::optional<std::size_t> got = m_readFile->readAt(from, m_cache.data() + have, want);
    if (!got) {
        m_cache.resize(have);
        return fail("read " + dataFilePath(m_readNumber));
    }
    m_cache.resize(have + *got);
    if (*got < want) {
        // The file is shorter than the store knew (changed behind its back): it ends here.
        if (m_readNumber == m_writeNumber)
            m_writeSize = from + *got;
        else
            m_readFileSize = from + *got;
    }
    return StoreStatus::ok();
}

StoreStatus BacklogStore::locateHead(HeadRecord& head, bool& found)
{
    found = false;
    for (;;) {
        bool more = false;
        if (StoreStatus s = reachUntakenBytes(more); !s || !more)
            return s;
        if (StoreStatus s = parseHead(head); !s)
            return s;
        if (head.kind == HeadRecord::Kind::NeedMore)
            continue; // more of the file is in the cache now, or its end has moved up
        if (head.kind == HeadRecord::Kind::None) {
            m_readOffset = readableEnd(); // stray bytes without a start marker up to the end
            continue;
        }
        if (head.kind == HeadRecord::Kind::Good && head.code == 0) {
            consumeHead(head); // taken away unsent
            continue;
        }
        found = true;
        if (m_pending.load() <= 0)
            m_pending = 1; // counted too low by an index from before
        return StoreStatus::ok();
    }
}

StoreStatus BacklogStore::reachUntakenBytes(bool& more)
{
    more = false;
    for (;;) {
        if (!m_readFile)
            if (StoreStatus s = openReadFile(); !s)
                return s;
        if (m_readFile && m_readOffset < readableEnd()) {
            more = true;
            return StoreStatus::ok();
        }
        if (m_readNumber >= m_writeNumber) {
            m_pending = 0;
            return StoreStatus::ok(); // everything is taken, or there is no data file yet
        }
        // A used-up or missing file before the write file: on to the next.
        if (StoreStatus s = retireReadFile(); !s)
            return s;
    }
}

StoreStatus BacklogStore::parseHead(HeadRecord& head)
{
    const std::uint64_t end = readableEnd();
    if (m_markedOffset + m_cache.size() <= m_readOffset)
        if (StoreStatus s = fillCache(std::min(end, m_readOffset + kReadChunk)); !s)
            return s;
    const std::uint64_t available = m_markedOffset + m_cache.size() - m_readOffset;
    head = findHeadRecord(cacheAt(m_readOffset), static_cast<std::size_t>(available),
                          end - m_readOffset);
    if (head.kind != HeadRecord::Kind::NeedMore)
        return StoreStatus::ok();
    // Either more bytes come, or the file turns out shorter and the end moves to them.
    const std::uint64_t more = std::max<std::uint64_t>(available, kReadChunk);
    return fillCache(std::min(end, m_readOffset + available + more));
}

void BacklogStore::consumeHead(const HeadRecord& head)
{
    if (inThisRun())
        ++m_appendsTaken;
    if (head.kind == HeadRecord::Kind::Good)
        m_unmarkedCodes.push_back(m_readOffset + head.bodyOffset - kBodyOffset + kCodeOffset);
    m_readOffset += head.end;
    ++m_takenInReadFile;
    if (m_pending.load() > 0)
        --m_pending;
    // Bytes are left, so something may be: an index from before a power cut can count fewer
    // records than the files hold, and the reader stops asking once this says none.
    if (m_pending.load() == 0 && (m_readOffset < readableEnd() || m_readNumber != m_writeNumber))
        m_pending = 1;
}

StoreStatus BacklogStore::retireReadFile()
{
    const std::int32_t old = m_readNumber;
    // The next file that is there: a gap in the numbers (files lost, or an index written by
    // hand) is crossed in one step, however wide.
    std::vector<std::int32_t> numbers;
    if (StoreStatus s = listDataFiles(numbers); !s)
        return s;
    auto later = std::upper_bound(numbers.begin(), numbers.end(), old);
    const std::int32_t next =
        later != numbers.end() && *later < m_writeNumber ? *later : m_writeNumber;
    const std::int64_t count = std::max<std::int64_t>(0, recordCount() - m_takenInReadFile);
    const std::int64_t onDisk = std::max<std::int64_t>(count, m_countOnDisk - m_takenInReadFile);
    // Count and read number in one write. Until it is on the disk the old file stays, so the
    // files never point at a file that is gone.
    StoreStatus indexed = writeIndex(kCountOffset, {clampToI32(onDisk), next});
    m_readNumber = next;
    setCount(count);
    m_readFile.reset();
    resetReadPosition();
    if (!indexed) {
        m_indexBehind = true; // sync writes it again; delivery goes on meanwhile
        return StoreStatus::ok();
    }
    m_countOnDisk = onDisk;
    m_files.removeFile(dataFilePath(old));
    m_directoryToSync = true;
    return StoreStatus::ok();
}

BacklogStore::Oldest BacklogStore::oldest()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const InvariantCheck check{*this};
    Oldest peek;
    if (!m_open) {
        peek.status = StoreStatus::fromError("read the backlog before it is open", 0);
        return peek;
    }
    HeadRecord head;
    if (peek.status = locateHead(head, peek.found); !peek.status || !peek.found)
        return peek;
    peek.code = head.code;
    peek.appendIndex = inThisRun() ? m_appendsTaken : -1;
    if (head.kind != HeadRecord::Kind::Good)
        return peek;
    const std::uint8_t* at = cacheAt(m_readOffset) + head.bodyOffset;
    peek.body.assign(at, at + head.bodyLength);
    peek.good = true;
    return peek;
}

StoreStatus BacklogStore::takeOldest()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const InvariantCheck check{*this};
    if (!m_open)
        return StoreStatus::fromError("take from the backlog before it is open", 0);
    HeadRecord head;
    bool found = false;
    if (StoreStatus s = locateHead(head, found); !s || !found)
        return s;
    consumeHead(head);
    // The record is taken whatever happens next: a used-up file that cannot be retired now (the
    // directory cannot be listed) is retired by the next call, which reports why it cannot.
    if (m_readOffset >= readableEnd() && m_readNumber < m_writeNumber)
        (void)retireReadFile();
    return StoreStatus::ok();
}

StoreStatus BacklogStore::writeMarks()
{
    if (m_unmarkedCodes.empty() || !m_readFile)
        return StoreStatus::ok();
    // The taken records lie back to back from the marked offset to the read offset, all in the
    // cache; they are written back in one piece with their codes set to 0.
    const auto to = static_cast<std::size_t>(m_readOffset - m_markedOffset);
    Bytes piece(m_cache.begin(), m_cache.begin() + static_cast<std::ptrdiff_t>(to));
    for (std::uint64_t code : m_unmarkedCodes)
        platform::writeU32(&piece[static_cast<std::size_t>(code - m_markedOffset)], 0);
    if (!m_readFile->writeAt(m_markedOffset, piece.data(), piece.size()))
        return fail("mark taken records in " + dataFilePath(m_readNumber));
    const bool inWriteFile = m_readNumber == m_writeNumber && m_writeFile;
    noteUnsynced(inWriteFile ? m_writeFile : m_readFile, m_readNumber);
    m_unmarkedCodes.clear();
    m_cache.erase(m_cache.begin(), m_cache.begin() + static_cast<std::ptrdiff_t>(to));
    m_markedOffset = m_readOffset;
    return StoreStatus::ok();
}

StoreStatus BacklogStore::renumberFromZero()
{
    // Used-up files that a failed removal left go first: the new numbers must not come round to
    // one of them. While one stays, the numbers go on.
    std::vector<std::int32_t> numbers;
    if (StoreStatus s = listDataFiles(numbers); !s)
        return s;
    if (StoreStatus s = removeFilesBeforeReadFile(numbers); !s)
        return s;
    // The index first: a crash before the old file is removed leaves an empty file past the
    // write file, which the next open removes.
    const std::int32_t old = m_writeNumber;
    if (StoreStatus s = writeIndex(kCountOffset, {0, 0, 0}); !s)
        return s;
    m_readNumber = m_writeNumber = 0;
    m_countOnDisk = 0;
    setCount(0);
    m_pending = 0;
    m_writeFile.reset();
    m_readFile.reset();
    resetReadPosition();
    m_runStartFile = 0;
    m_runStartOffset = 0;
    m_olderGone = true;
    m_rollBeforeAppend = false;
    m_files.removeFile(dataFilePath(old));
    m_directoryToSync = true;
    return StoreStatus::ok();
}

void BacklogStore::noteUnsynced(const std::shared_ptr<File>& file, std::int32_t n)
{
    for (const Unsynced& written : m_unsynced)
        if (written.file == file)
            return;
    m_unsynced.push_back({file, n});
}

StoreStatus BacklogStore::sync()
{
    // Under the lock only the writes; the flushes, which wait for the disk, run without it.
    std::lock_guard<std::mutex> syncing(m_syncMutex);
    StoreStatus first;
    FlushPlan plan;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const InvariantCheck check{*this};
        if (!m_open)
            return StoreStatus::ok();
        first = settleTakes();
        plan = takeFlushPlan();
    }
    keepFirst(first, flush(plan));
    std::lock_guard<std::mutex> lock(m_mutex);
    const InvariantCheck check{*this};
    keepUnflushed(std::move(plan));
    return first;
}

StoreStatus BacklogStore::settleTakes()
{
    StoreStatus first;
    if (m_indexBehind)
        keepFirst(first, catchUpIndex());
    // Everything taken: the write file starts over (its marks need not be written first), and
    // the index counts nothing.
    const bool allTaken =
        m_readNumber == m_writeNumber && m_readOffset >= m_writeSize && !m_indexBehind;
    if (allTaken && m_writeFile && m_writeSize > 0)
        keepFirst(first, emptyWriteFile());
    keepFirst(first, writeMarks());
    // And the numbers start over at 0, as when the store was new, so they never run out.
    if (allTaken && m_writeSize == 0 && m_writeNumber != 0)
        keepFirst(first, renumberFromZero());
    if (m_countOnDisk != recordCount() && !m_indexBehind) {
        StoreStatus s = writeIndex(kCountOffset, {recordCount()});
        if (s)
            m_countOnDisk = recordCount();
        keepFirst(first, std::move(s));
    }
    return first;
}

StoreStatus BacklogStore::catchUpIndex()
{
    m_countOnDisk = std::max<std::int64_t>(m_countOnDisk, recordCount());
    if (StoreStatus s = writeIndex(kCountOffset, {clampToI32(m_countOnDisk), m_readNumber}); !s)
        return s;
    m_indexBehind = false;
    std::vector<std::int32_t> numbers;
    StoreStatus removed = listDataFiles(numbers);
    keepFirst(removed, removeFilesBeforeReadFile(numbers));
    m_directoryToSync = true;
    return removed;
}

StoreStatus BacklogStore::emptyWriteFile()
{
    if (!m_writeFile->truncate(0))
        return fail("empty " + dataFilePath(m_writeNumber));
    noteUnsynced(m_writeFile, m_writeNumber);
    m_writeSize = 0;
    resetReadPosition();
    m_olderGone = true;
    setCount(0);
    m_pending = 0;
    return StoreStatus::ok();
}

BacklogStore::FlushPlan BacklogStore::takeFlushPlan()
{
    FlushPlan plan;
    plan.files = std::exchange(m_unsynced, {});
    if (std::exchange(m_indexToSync, false))
        plan.index = m_index;
    plan.directory = std::exchange(m_directoryToSync, false);
    plan.base = std::exchange(m_baseToSync, false);
    return plan;
}

StoreStatus BacklogStore::flush(FlushPlan& plan) const
{
    StoreStatus first;
    std::vector<Unsynced> failed;
    for (Unsynced& written : plan.files) {
        if (!written.file->sync()) {
            keepFirst(first, fail("flush " + dataFilePath(written.number)));
            failed.push_back(std::move(written));
        }
    }
    plan.files = std::move(failed);
    // The index only once the data files are on the disk: there it never counts records as
    // taken (Count down to nothing) before the emptied write file shows it.
    if (plan.index && first) {
        if (plan.index->sync())
            plan.index.reset();
        else
            keepFirst(first, fail("flush " + indexFilePath()));
    }
    keepFirst(first, flushDirectory(plan.directory, m_directory));
    keepFirst(first, flushDirectory(plan.base, m_base));
    return first;
}

StoreStatus BacklogStore::flushDirectory(bool& toSync, const std::string& path) const
{
    if (!toSync)
        return StoreStatus::ok();
    if (!m_files.syncDirectory(path))
        return fail("flush " + path);
    toSync = false;
    return StoreStatus::ok();
}

void BacklogStore::keepUnflushed(FlushPlan plan)
{
    // What the flush missed goes again with the next sync, before what was written since.
    std::vector<Unsynced> since = std::exchange(m_unsynced, std::move(plan.files));
    for (const Unsynced& written : since)
        noteUnsynced(written.file, written.number);
    m_indexToSync = m_indexToSync || plan.index;
    m_directoryToSync = m_directoryToSync || plan.directory;
    m_baseToSync = m_baseToSync || plan.base;
}

void BacklogStore::checkInvariants() const
{
    assert(m_markedOffset <= m_readOffset && m_readOffset <= m_markedOffset + m_cache.size());
    assert(std::all_of(m_unmarkedCodes.begin(), m_unmarkedCodes.end(), [this](std::uint64_t at) {
        return at >= m_markedOffset && at + 4 <= m_readOffset;
    }));
    assert(m_pending.load() >= 0 && m_takenInReadFile >= 0 && recordCount() >= 0);
    if (!m_open)
        return;
    assert(0 <= m_readNumber && m_readNumber <= m_writeNumber);
    assert(m_countOnDisk >= recordCount());
    assert(m_readOffset <= readableEnd() || !m_readFile);
    assert(m_writeSize == 0 || m_writeFile); // a write size is that of an open write file
}

} // namespace backlog
