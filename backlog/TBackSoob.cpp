// backlog/TBackSoob.cpp
#include "backlog/TBackSoob.h"

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <map>
#include <utility>

namespace backlog {

namespace {

using platform::BinaryFile;
using platform::readI32;

constexpr const char* kIndexName = "backsoob.dat";
constexpr const char* kDataSuffix = ".dat";
constexpr const char* kTempSuffix = ".tmp";

// A peek reads this much of the oldest file first; a record at the front almost always fits,
// so the rest of a million-byte file is read only for large or damaged records.
constexpr std::size_t kPeekWindow = 4096;

// Far beyond any message the gateway produces, and small enough that a record can never wrap
// the signed length field.
constexpr std::size_t kMaxBodyLength = 16u * 1024 * 1024;

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

StoreStatus failed(const std::string& what)
{
    return StoreStatus::fromError(what, platform::lastFileError());
}

StoreStatus readRange(const BinaryFile& file, std::uint64_t offset, std::size_t count,
                      const std::string& path, Bytes& bytes)
{
    bytes.resize(count);
    auto got = file.readAt(offset, bytes.data(), count);
    if (!got)
        return failed("read " + path);
    bytes.resize(*got);
    return StoreStatus::ok();
}

StoreStatus sizeOf(const BinaryFile& file, const std::string& path, std::uint64_t& size)
{
    auto got = file.size();
    if (!got)
        return failed("get the size of " + path);
    size = *got;
    return StoreStatus::ok();
}

std::int32_t clampToI32(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

TBackSoob::TBackSoob(std::string baseDirectory) : m_base(std::move(baseDirectory)) {}

std::recursive_mutex& TBackSoob::storeLock()
{
    static std::recursive_mutex lock;
    return lock;
}

std::string TBackSoob::indexFilePath() const
{
    return platform::joinPath(platform::joinPath(m_base, m_subdirectory), kIndexName);
}

std::string TBackSoob::dataFilePath(std::int32_t n) const
{
    return platform::joinPath(platform::joinPath(m_base, m_subdirectory),
                              "bs" + std::to_string(n) + kDataSuffix);
}

std::int32_t TBackSoob::readNumber() const
{
    std::lock_guard<std::recursive_mutex> guard(storeLock());
    return m_readNumber;
}

std::int32_t TBackSoob::writeNumber() const
{
    std::lock_guard<std::recursive_mutex> guard(storeLock());
    return m_writeNumber;
}

bool TBackSoob::isOpen() const
{
    std::lock_guard<std::recursive_mutex> guard(storeLock());
    return m_open;
}

StoreStatus TBackSoob::requireOpen() const
{
    if (!m_open)
        return StoreStatus::fromError("use the backlog store before it is open", 0);
    return StoreStatus::ok();
}

void TBackSoob::setCount(std::int64_t count)
{
    m_count.store(clampToI32(count), std::memory_order_relaxed);
}

StoreStatus TBackSoob::writeIndexField(std::uint64_t offset, std::int32_t value)
{
    std::string path = indexFilePath();
    BinaryFile index;
    if (!index.open(path, BinaryFile::Open::Existing))
        return failed("open " + path);
    std::uint8_t bytes[4];
    platform::writeI32(bytes, value);
    if (!index.writeAt(offset, bytes, sizeof bytes))
        return failed("write " + path);
    return StoreStatus::ok();
}

StoreStatus TBackSoob::writeWholeIndex()
{
    std::string path = indexFilePath();
    BinaryFile index;
    if (!index.open(path, BinaryFile::Open::Truncate))
        return failed("create " + path);
    std::uint8_t bytes[kIndexSize];
    platform::writeI32(bytes, static_cast<std::int32_t>(kSignature));
    platform::writeI32(bytes + kCountOffset, Count());
    platform::writeI32(bytes + kReadNumberOffset, m_readNumber);
    platform::writeI32(bytes + kWriteNumberOffset, m_writeNumber);
    if (!index.writeAt(0, bytes, sizeof bytes))
        return failed("write " + path);
    return StoreStatus::ok();
}

StoreStatus TBackSoob::OpenStore()
{
    std::lock_guard<std::recursive_mutex> guard(storeLock());
    m_open = false;
    m_readNumber = 0;
    m_writeNumber = 0;
    setCount(0);
    if (m_subdirectory.empty())
        return StoreStatus::fromError("open a backlog store without a directory name", 0);
    m_directory = platform::joinPath(m_base, m_subdirectory);
    if (!platform::directoryExists(m_directory) && !platform::createDirectory(m_directory))
        return failed("create " + m_directory);

    // A .tmp file is a rewrite that never got renamed: its data file is still the whole old one.
    for (const std::string& name : platform::listFiles(m_directory)) {
        std::int32_t n = 0;
        if (parseNumberedName(name, kTempSuffix, &n))
            platform::removeFile(platform::joinPath(m_directory, name));
    }

    bool loaded = false;
    std::string path = indexFilePath();
    if (platform::fileExists(path)) {
        BinaryFile index;
        if (!index.open(path, BinaryFile::Open::Existing))
            return failed("open " + path);
        Bytes bytes;
        if (StoreStatus s = readRange(index, 0, kIndexSize, path, bytes); !s)
            return s;
        if (bytes.size() == kIndexSize &&
            static_cast<std::uint32_t>(readI32(bytes.data())) == kSignature) {
            loaded = true;
            setCount(readI32(&bytes[kCountOffset]));
            m_readNumber = readI32(&bytes[kReadNumberOffset]);
            m_writeNumber = readI32(&bytes[kWriteNumberOffset]);
        }
    }
    m_open = true;
    StoreStatus rebuilt = rebuildIfInconsistent(loaded);
    m_open = rebuilt.isOk();
    return rebuilt;
}

StoreStatus TBackSoob::rebuildIfInconsistent(bool indexLoaded)
{
    // Records per data file, counted the way PeekOldest and DeleteOldest take them.
    std::map<std::int32_t, std::int64_t> records;
    for (const std::string& name : platform::listFiles(m_directory)) {
        std::int32_t n = 0;
        if (!parseNumberedName(name, kDataSuffix, &n))
            continue;
        std::string path = dataFilePath(n);
        BinaryFile file;
        if (!file.open(path, BinaryFile::Open::Existing))
            return failed("open " + path);
        std::uint64_t size = 0;
        Bytes bytes;
        if (StoreStatus s = sizeOf(file, path, size); !s)
            return s;
        if (StoreStatus s = readRange(file, 0, static_cast<std::size_t>(size), path, bytes); !s)
            return s;
        records[n] = countRecords(bytes);
    }

    std::int64_t inRange = 0;
    bool outside = false;
    for (auto [n, count] : records) {
        if (n >= m_readNumber && n <= m_writeNumber)
            inRange += count;
        else if (count > 0)
            outside = true;
    }
    if (indexLoaded && m_readNumber >= 0 && m_readNumber <= m_writeNumber && !outside &&
        inRange == Count())
        return StoreStatus::ok();

    // Reading starts at the first file that holds a record, writing goes on in the last file,
    // so no file with records is ever truncated by a roll-over.
    auto first =
        std::find_if(records.begin(), records.end(), [](const auto& r) { return r.second > 0; });
    m_writeNumber = records.empty() ? 0 : records.rbegin()->first;
    m_readNumber = first == records.end() ? m_writeNumber : first->first;
    std::int64_t total = 0;
    for (auto [n, count] : records)
        if (n >= m_readNumber)
            total += count;
    setCount(total);
    return writeWholeIndex();
}

StoreStatus TBackSoob::AddMessage(std::uint32_t code, const Bytes& body)
{
    if (body.size() > kMaxBodyLength)
        return StoreStatus::damaged("a message of " + std::to_string(body.size()) +
                                    " bytes is too long for the backlog");
    std::lock_guard<std::recursive_mutex> guard(storeLock());
    if (StoreStatus s = requireOpen(); !s)
        return s;
    std::string path = dataFilePath(m_writeNumber);
    BinaryFile file;
    if (!file.open(path, BinaryFile::Open::OrCreate))
        return failed("open " + path);
    std::uint64_t size = 0;
    if (StoreStatus s = sizeOf(file, path, size); !s)
        return s;
    if (size > kDataFileLimit) {
        if (m_writeNumber == std::numeric_limits<std::int32_t>::max())
            return StoreStatus::damaged("the backlog has run out of data file numbers");
        file.close();
        ++m_writeNumber;
        if (StoreStatus s = writeIndexField(kWriteNumberOffset, m_writeNumber); !s) {
            --m_writeNumber;
            return s;
        }
        path = dataFilePath(m_writeNumber);
        if (!file.open(path, BinaryFile::Open::Truncate))
            return failed("create " + path);
        size = 0;
    }
    // Count goes first: a crash before the append leaves it one too high, which the next
    // OpenStore or an empty oldest file puts right; one too low would strand a record.
    setCount(static_cast<std::int64_t>(Count()) + 1);
    if (StoreStatus s = writeIndexField(kCountOffset, Count()); !s) {
        setCount(static_cast<std::int64_t>(Count()) - 1);
        return s;
    }
    Bytes record = encodeRecord(code, body);
    if (!file.writeAt(size, record.data(), record.size()))
        return failed("write " + path);
    return StoreStatus::ok();
}

StoreStatus TBackSoob::readHead(std::int32_t n, bool wholeFile, Head& head) const
{
    head = Head{};
    std::string path = dataFilePath(n);
    if (!platform::fileExists(path))
        return StoreStatus::ok();
    BinaryFile file;
    if (!file.open(path, BinaryFile::Open::Existing))
        return failed("open " + path);
    if (StoreStatus s = sizeOf(file, path, head.fileSize); !s)
        return s;
    if (head.fileSize == 0)
        return StoreStatus::ok();
    auto want = static_cast<std::size_t>(
        wholeFile ? head.fileSize : std::min<std::uint64_t>(head.fileSize, kPeekWindow));
    if (StoreStatus s = readRange(file, 0, want, path, head.bytes); !s)
        return s;
    head.record = findHeadRecord(head.bytes.data(), head.bytes.size(), head.fileSize);
    if (head.record.kind == HeadRecord::Kind::NeedMore) {
        auto whole = static_cast<std::size_t>(head.fileSize);
        if (StoreStatus s = readRange(file, 0, whole, path, head.bytes); !s)
            return s;
        head.record = findHeadRecord(head.bytes.data(), head.bytes.size(), head.fileSize);
    }
    // A file that changed size under us: take it as holding nothing rather than guess.
    if (head.record.kind == HeadRecord::Kind::NeedMore)
        head.record.kind = HeadRecord::Kind::None;
    return StoreStatus::ok();
}

StoreStatus TBackSoob::seekOldest(Head& head, bool wholeFile, bool& found)
{
    for (;;) {
        if (StoreStatus s = readHead(m_readNumber, wholeFile, head); !s)
            return s;
        found = head.record.kind != HeadRecord::Kind::None;
        if (found || m_readNumber >= m_writeNumber)
            return StoreStatus::ok();
        // An empty, missing or markerless data file before the write file will never receive a
        // record again. Step past it, and past any gap in the numbers, to the next file.
        std::int32_t old = m_readNumber;
        std::int32_t next = m_writeNumber;
        for (const std::string& name : platform::listFiles(m_directory)) {
            std::int32_t n = 0;
            if (parseNumberedName(name, kDataSuffix, &n) && n > old && n < next)
                next = n;
        }
        if (StoreStatus s = writeIndexField(kReadNumberOffset, next); !s)
            return s;
        m_readNumber = next;
        platform::removeFile(dataFilePath(old));
    }
}

TBackSoob::Peek TBackSoob::PeekOldest()
{
    std::lock_guard<std::recursive_mutex> guard(storeLock());
    Peek peek;
    if (peek.status = requireOpen(); !peek.status)
        return peek;
    Head head;
    bool found = false;
    if (peek.status = seekOldest(head, false, found); !peek.status)
        return peek;
    if (!found) {
        peek.status = ClearStore();
        return peek;
    }
    peek.code = head.record.code;
    if (head.record.kind != HeadRecord::Kind::Good)
        return peek;
    auto from = head.bytes.begin() + static_cast<std::ptrdiff_t>(head.record.bodyOffset);
    peek.body.assign(from, from + static_cast<std::ptrdiff_t>(head.record.bodyLength));
    peek.good = true;
    return peek;
}

StoreStatus TBackSoob::DeleteOldest()
{
    std::lock_guard<std::recursive_mutex> guard(storeLock());
    if (StoreStatus s = requireOpen(); !s)
        return s;
    if (Count() <= 0)
        return StoreStatus::ok();
    Head head;
    bool found = false;
    if (StoreStatus s = seekOldest(head, true, found); !s)
        return s;
    if (!found) {
        // No record anywhere: Count was too high.
        setCount(static_cast<std::int64_t>(Count()) - 1);
        return writeIndexField(kCountOffset, Count());
    }
    return removeHead(head);
}

StoreStatus TBackSoob::removeHead(const Head& head)
{
    std::string path = dataFilePath(m_readNumber);
    auto restFrom = static_cast<std::size_t>(head.record.end);
    if (restFrom >= head.bytes.size()) {
        // The last record of the file. Cutting a file to nothing is a single step.
        BinaryFile file;
        if (!file.open(path, BinaryFile::Open::Existing) || !file.truncate(0))
            return failed("empty " + path);
    } else {
        // The file gets its new contents in one rename, so a crash leaves either the old file
        // (the record is taken again, Count still counts it) or the new one.
        std::string temp =
            platform::joinPath(m_directory, "bs" + std::to_string(m_readNumber) + kTempSuffix);
        BinaryFile file;
        bool written = file.open(temp, BinaryFile::Open::Truncate) &&
                       file.writeAt(0, head.bytes.data() + restFrom, head.bytes.size() - restFrom);
        StoreStatus status = written ? StoreStatus::ok() : failed("write " + temp);
        file.close();
        if (written && !platform::renameFile(temp, path))
            status = failed("rename " + temp + " to " + path);
        if (!status) {
            platform::removeFile(temp);
            return status;
        }
    }
    setCount(static_cast<std::int64_t>(Count()) - 1);
    if (StoreStatus s = writeIndexField(kCountOffset, Count()); !s)
        return s;
    if (restFrom >= head.bytes.size() && m_readNumber < m_writeNumber) {
        if (StoreStatus s = writeIndexField(kReadNumberOffset, m_readNumber + 1); !s)
            return s;
        ++m_readNumber;
        platform::removeFile(path);
    }
    return StoreStatus::ok();
}

StoreStatus TBackSoob::ClearStore()
{
    std::lock_guard<std::recursive_mutex> guard(storeLock());
    if (StoreStatus s = requireOpen(); !s)
        return s;
    for (const std::string& name : platform::listFiles(m_directory)) {
        std::int32_t n = 0;
        if (parseNumberedName(name, kDataSuffix, &n) && n >= m_readNumber && n <= m_writeNumber &&
            !platform::removeFile(dataFilePath(n)))
            return failed("delete " + dataFilePath(n));
    }
    setCount(0);
    m_readNumber = 0;
    m_writeNumber = 0;
    std::string path = indexFilePath();
    BinaryFile index;
    if (!index.open(path, BinaryFile::Open::Existing))
        return failed("open " + path);
    std::uint8_t zeros[12] = {};
    if (!index.writeAt(kCountOffset, zeros, sizeof zeros))
        return failed("write " + path);
    return StoreStatus::ok();
}

} // namespace backlog
