// platform/win/FileSystem.cpp: Windows files, kept as close to the POSIX ones as the callers
// need: every handle lets others read, write, rename and delete the file (a removed file's name
// is free at once, even while someone still has it open), the lock never blocks reading, and
// failures leave errno set with the C library's numbers.
#include "platform/FileSystem.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/Files.h"
#include "platform/win/ErrorNumbers.h"
#include "platform/win/WideText.h"

namespace platform {

namespace {

using win::takeLastError;
using win::widen;

// The information class for a delete with POSIX semantics, as the Windows SDK numbers it; MinGW's
// minwinbase.h leaves it out.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Each ReadFile and WriteFile takes at most this many bytes.
constexpr std::size_t kMaxChunk = 1u << 30;

// Windows locks are mandatory: a locked range cannot be read or written through any other
// handle, even in the same process. The lock is therefore taken on one byte far past any end
// the file will reach; holders that lock the same byte exclude each other and nothing else.
constexpr std::uint64_t kLockByte = 0x7FFF'FFFF'FFFF'FFF0;

OVERLAPPED at(std::uint64_t offset)
{
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// The bytes one ReadFile or WriteFile moved; nothing when it failed (errno set).
using Moved = std::optional<DWORD>;

// Reads or writes count bytes at offset in chunks of at most kMaxChunk: transfer(done, ask, o)
// moves ask bytes at done, o placing them in the file. Stops at a chunk that moves nothing;
// answers the bytes moved, or nothing when a chunk failed.
template <typename Transfer>
std::optional<std::size_t> inChunks(std::uint64_t offset, std::size_t count, Transfer transfer)
{
    std::size_t done = 0;
    while (done < count) {
        OVERLAPPED o = at(offset + done);
        Moved n = transfer(done, static_cast<DWORD>(std::min(count - done, kMaxChunk)), &o);
        if (!n)
            return std::nullopt;
        if (*n == 0)
            break;
        done += *n;
    }
    return done;
}

class OsFile final : public File
{
public:
    explicit OsFile(HANDLE h) : m_handle(h) {}
    ~OsFile() override
    {
        // Unlocked before closing: a lock left to the close goes when the system gets round to
        // it, and a store reopened at once would find it still held.
        if (m_locked) {
            OVERLAPPED o = at(kLockByte);
            ::UnlockFileEx(m_handle, 0, 1, 0, &o);
        }
        ::CloseHandle(m_handle);
    }
    OsFile(const OsFile&) = delete;
    OsFile& operator=(const OsFile&) = delete;

    std::optional<std::uint64_t> size() const override
    {
        LARGE_INTEGER n{};
        if (!::GetFileSizeEx(m_handle, &n)) {
            takeLastError();
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(n.QuadPart);
    }

    std::optional<std::size_t> readAt(std::uint64_t offset, void* buffer,
                                      std::size_t count) const override
    {
        auto* out = static_cast<char*>(buffer);
        return inChunks(offset, count, [&](std::size_t done, DWORD ask, OVERLAPPED* o) -> Moved {
            DWORD n = 0;
            if (::ReadFile(m_handle, out + done, ask, &n, o))
                return n;
            if (::GetLastError() == ERROR_HANDLE_EOF)
                return 0;
            takeLastError();
            return std::nullopt;
        });
    }

    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override
    {
        const auto* in = static_cast<const char*>(data);
        std::optional<std::size_t> written =
            inChunks(offset, count, [&](std::size_t done, DWORD ask, OVERLAPPED* o) -> Moved {
                DWORD n = 0;
                if (::WriteFile(m_handle, in + done, ask, &n, o))
                    return n;
                takeLastError();
                return std::nullopt;
            });
        if (!written)
            return false;
        if (*written < count) {
            errno = EIO; // nothing written and no reason given
            return false;
        }
        return true;
    }

    bool truncate(std::uint64_t size) override
    {
        FILE_END_OF_FILE_INFO end{};
        end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFileInformationByHandle(m_handle, FileEndOfFileInfo, &end, sizeof end)) {
            takeLastError();
            return false;
        }
        return true;
    }

    bool sync() override
    {
        if (!::FlushFileBuffers(m_handle)) {
            takeLastError();
            return false;
        }
        return true;
    }

    bool tryLock() override
    {
        if (m_locked)
            return true;
        OVERLAPPED o = at(kLockByte);
        if (!::LockFileEx(m_handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                          &o)) {
            takeLastError();
            return false;
        }
        m_locked = true;
        return true;
    }

private:
    HANDLE m_handle;
    bool m_locked = false;
};

// Moves an open file to a name of its own in the same directory, so that its old name is free
// while the file waits for its last handle to close.
void moveAside(HANDLE h, const std::wstring& path)
{
    static std::atomic<unsigned> serial{0};
    // A bare name renames within the directory; a path would have to be in the kernel's form.
    std::size_t slash = path.find_last_of(L"/\\");
    std::wstring aside = path.substr(slash == std::wstring::npos ? 0 : slash + 1) + L"." +
                         std::to_wstring(::GetCurrentProcessId()) + L"." +
                         std::to_wstring(serial++) + L".removed";
    std::vector<char> buf(sizeof(FILE_RENAME_INFO) + aside.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buf.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(aside.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, aside.data(), aside.size() * sizeof(wchar_t));
    ::SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buf.size()));
}

// Sets errno after a failure on path. Windows reports a path one of whose parents is a file as a
// path not found; POSIX says "Not a directory", which tells the user what to fix, so that is
// what the callers get on both.
void takeErrorFor(const std::string& path)
{
    takeLastError();
    if (errno != ENOENT)
        return;
    for (std::size_t end = path.find_first_of("/\\", 1); end != std::string::npos;
         end = path.find_first_of("/\\", end + 1))
        if (platform::fileExists(path.substr(0, end))) {
            errno = ENOTDIR;
            return;
        }
}

class OsFileSystem final : public FileSystem
{
public:
    std::unique_ptr<File> open(const std::string& path, Open how) override
    {
        DWORD disposition = how == Open::Existing   ? OPEN_EXISTING
                            : how == Open::OrCreate ? OPEN_ALWAYS
                                                    : CREATE_ALWAYS;
        HANDLE h = ::CreateFileW(widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                 nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            takeErrorFor(path);
            return nullptr;
        }
        return std::make_unique<OsFile>(h);
    }

    bool removeFile(const std::string& path) override
    {
        std::wstring wide = widen(path);
        HANDLE h = ::CreateFileW(wide.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            DWORD e = ::GetLastError();
            errno = win::errorNumberOf(e);
            return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
        }
        // POSIX semantics (Windows 10 1709 on, NTFS): the name goes at once, even while other
        // handles are open. Where they are missing, the file is moved aside and deleted when its
        // last handle closes, so a file of the same name can be created at once all the same.
        FILE_DISPOSITION_INFO_EX posix{FILE_DISPOSITION_FLAG_DELETE |
                                       FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
        bool ok = ::SetFileInformationByHandle(h, kFileDispositionInfoEx, &posix, sizeof posix);
        if (!ok) {
            moveAside(h, wide);
            FILE_DISPOSITION_INFO classic{TRUE};
            ok = ::SetFileInformationByHandle(h, FileDispositionInfo, &classic, sizeof classic);
        }
        if (!ok)
            takeLastError();
        int error = errno;
        ::CloseHandle(h);
        errno = error;
        return ok;
    }

    std::optional<std::vector<std::string>> listFiles(const std::string& directory) override
    {
        return readDirectory(directory);
    }

    bool fileExists(const std::string& path) override { return platform::fileExists(path); }

    bool directoryExists(const std::string& path) override
    {
        return platform::directoryExists(path);
    }

    bool createDirectory(const std::string& path) override
    {
        if (platform::createDirectory(path))
            return true;
        takeErrorFor(path);
        return false;
    }

    // Windows has no flush for a directory's entries: NTFS logs them in its journal on its own.
    // Checking that the directory is there keeps a missing one an error, as on POSIX.
    bool syncDirectory(const std::string& path) override
    {
        if (platform::directoryExists(path))
            return true;
        takeLastError();
        return false;
    }

    int lastError() const override { return errno; }

private:
    // Names of the regular files; nothing when the directory cannot be read.
    static std::optional<std::vector<std::string>> readDirectory(const std::string& directory)
    {
        WIN32_FIND_DATAW found{};
        HANDLE h = ::FindFirstFileExW(widen(joinPath(directory, "*")).c_str(), FindExInfoBasic,
                                      &found, FindExSearchNameMatch, nullptr, 0);
        std::vector<std::string> names;
        if (h == INVALID_HANDLE_VALUE) {
            if (::GetLastError() == ERROR_FILE_NOT_FOUND)
                return names; // a drive's empty root has not even "." and ".."
            takeLastError();
            return std::nullopt;
        }
        do {
            if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0)
                names.push_back(win::narrow(found.cFileName));
        } while (::FindNextFileW(h, &found));
        bool complete = ::GetLastError() == ERROR_NO_MORE_FILES;
        if (!complete)
            takeLastError();
        ::FindClose(h);
        if (!complete)
            return std::nullopt;
        return names;
    }
};

} // namespace

FileSystem& osFileSystem()
{
    static OsFileSystem fs;
    return fs;
}

} // namespace platform
