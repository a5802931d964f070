// platform/FileSystem.cpp: POSIX files.
#include "platform/FileSystem.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Files.h"

namespace platform {

namespace {

class OsFile final : public File
{
public:
    explicit OsFile(int fd) : m_fd(fd) {}
    ~OsFile() override { ::close(m_fd); }
    OsFile(const OsFile&) = delete;
    OsFile& operator=(const OsFile&) = delete;

    std::optional<std::uint64_t> size() const override
    {
        struct stat st
        {
        };
        if (::fstat(m_fd, &st) != 0)
            return std::nullopt;
        return static_cast<std::uint64_t>(st.st_size);
    }

    std::optional<std::size_t> readAt(std::uint64_t offset, void* buffer,
                                      std::size_t count) const override
    {
        auto* out = static_cast<char*>(buffer);
        std::size_t got = 0;
        while (got < count) {
            ssize_t n = ::pread(m_fd, out + got, count - got, static_cast<off_t>(offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return std::nullopt;
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        return got;
    }

    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override
    {
        const auto* in = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < count) {
            ssize_t n = ::pwrite(m_fd, in + done, count - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n == 0)
                errno = EIO; // nothing written and no reason given
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool truncate(std::uint64_t size) override
    {
        return ::ftruncate(m_fd, static_cast<off_t>(size)) == 0;
    }

    bool sync() override { return ::fdatasync(m_fd) == 0; }

    bool tryLock() override { return ::flock(m_fd, LOCK_EX | LOCK_NB) == 0; }

private:
    int m_fd;
};

class OsFileSystem final : public FileSystem
{
public:
    std::unique_ptr<File> open(const std::string& path, Open how) override
    {
        int flags = O_RDWR | O_CLOEXEC;
        if (how == Open::OrCreate)
            flags |= O_CREAT;
        else if (how == Open::Truncate)
            flags |= O_CREAT | O_TRUNC;
        int fd;
        do {
            fd = ::open(path.c_str(), flags, 0644);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            return nullptr;
        return std::make_unique<OsFile>(fd);
    }

    bool removeFile(const std::string& path) override
    {
        return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    }

    std::optional<std::vector<std::string>> listFiles(const std::string& directory) override
    {
        DIR* dir = ::opendir(directory.c_str());
        if (dir == nullptr)
            return std::nullopt;
        std::vector<std::string> names;
        // readdir answers null both at the end and on an error; only an error sets errno.
        errno = 0;
        while (const dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != ".." && platform::fileExists(joinPath(directory, name)))
                names.push_back(std::move(name));
            errno = 0;
        }
        const int error = errno;
        ::closedir(dir);
        errno = error;
        if (error != 0)
            return std::nullopt;
        return names;
    }

    bool fileExists(const std::string& path) override { return platform::fileExists(path); }

    bool directoryExists(const std::string& path) override
    {
        return platform::directoryExists(path);
    }

    bool createDirectory(const std::string& path) override
    {
        return platform::createDirectory(path);
    }

    bool syncDirectory(const std::string& path) override
    {
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return false;
        bool ok = ::fsync(fd) == 0;
        int error = errno;
        ::close(fd);
        errno = error;
        return ok;
    }

    int lastError() const override { return errno; }
};

} // namespace

FileSystem& osFileSystem()
{
    static OsFileSystem fs;
    return fs;
}

} // namespace platform
