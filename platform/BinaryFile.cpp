// platform/BinaryFile.cpp: POSIX files.
#include "platform/BinaryFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Files.h"

namespace platform {

BinaryFile::~BinaryFile()
{
    close();
}

BinaryFile::BinaryFile(BinaryFile&& other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

BinaryFile& BinaryFile::operator=(BinaryFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

bool BinaryFile::open(const std::string& path, Open how)
{
    close();
    int flags = O_RDWR | O_CLOEXEC;
    if (how == Open::OrCreate)
        flags |= O_CREAT;
    else if (how == Open::Truncate)
        flags |= O_CREAT | O_TRUNC;
    do {
        m_fd = ::open(path.c_str(), flags, 0644);
    } while (m_fd < 0 && errno == EINTR);
    return m_fd >= 0;
}

void BinaryFile::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::optional<std::uint64_t> BinaryFile::size() const
{
    struct stat st
    {
    };
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::size_t> BinaryFile::readAt(std::uint64_t offset, void* buffer,
                                              std::size_t count) const
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

bool BinaryFile::writeAt(std::uint64_t offset, const void* data, std::size_t count)
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

bool BinaryFile::truncate(std::uint64_t size)
{
    return m_fd >= 0 && ::ftruncate(m_fd, static_cast<off_t>(size)) == 0;
}

bool BinaryFile::sync()
{
    return m_fd >= 0 && ::fsync(m_fd) == 0;
}

int lastFileError()
{
    return errno;
}

std::string errorText(int osError)
{
    return std::strerror(osError);
}

bool isDiskFullError(int osError)
{
    return osError == ENOSPC || osError == EDQUOT;
}

bool removeFile(const std::string& path)
{
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool renameFile(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::vector<std::string> listFiles(const std::string& directory)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && fileExists(joinPath(directory, name)))
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    return names;
}

} // namespace platform
