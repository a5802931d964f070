// tests/fakes/FaultyFileSystem.cpp
#include "tests/fakes/FaultyFileSystem.h"

#include <cerrno>

namespace fakes {

namespace {

std::string nameOf(const std::string& path)
{
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The error number set for this file's name; 0 when none is.
int errorFor(const std::map<std::string, int>& errors, const std::string& path)
{
    auto it = errors.find(nameOf(path));
    return it == errors.end() ? 0 : it->second;
}

class FaultyFile final : public platform::File
{
public:
    FaultyFile(FaultyFileSystem& fs, std::unique_ptr<platform::File> real, std::string path)
        : m_fs(fs), m_real(std::move(real)), m_path(std::move(path))
    {
    }

    std::optional<std::uint64_t> size() const override { return m_real->size(); }

    std::optional<std::size_t> readAt(std::uint64_t offset, void* buffer,
                                      std::size_t count) const override
    {
        if (!m_fs.mayRead(m_path))
            return std::nullopt;
        return m_real->readAt(offset, buffer, count);
    }

    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override
    {
        if (!m_fs.mayChange())
            return false;
        std::size_t bytes = 0;
        int error = 0;
        if (m_fs.takeTear(count, &bytes, &error)) {
            if (bytes > 0)
                (void)m_real->writeAt(offset, data, bytes);
            errno = error;
            return false;
        }
        return m_real->writeAt(offset, data, count);
    }

    bool truncate(std::uint64_t size) override
    {
        return m_fs.mayChange() && m_real->truncate(size);
    }

    // What a power cut would lose is not what these tests look at; flushing to the disk only
    // makes them slow. A refused flush is.
    bool sync() override
    {
        errno = m_fs.syncError();
        return errno == 0;
    }
    bool tryLock() override { return m_real->tryLock(); }

private:
    FaultyFileSystem& m_fs;
    std::unique_ptr<platform::File> m_real;
    std::string m_path;
};

} // namespace

bool FaultyFileSystem::mayChange()
{
    if (m_changesLeft == 0) {
        errno = EIO;
        return false;
    }
    if (m_refusal != 0) {
        errno = m_refusal;
        return false;
    }
    if (m_changesLeft > 0)
        --m_changesLeft;
    ++m_changes;
    return true;
}

bool FaultyFileSystem::takeTear(std::size_t count, std::size_t* bytes, int* osError)
{
    if (!m_tearArmed)
        return false;
    m_tearArmed = false;
    *bytes = std::min(m_tearAt, count);
    *osError = m_tearError;
    return true;
}

bool FaultyFileSystem::mayRead(const std::string& path)
{
    ++m_reads[nameOf(path)];
    if (int error = errorFor(m_readErrors, path); error != 0) {
        errno = error;
        return false;
    }
    return true;
}

int FaultyFileSystem::readsOf(const std::string& name) const
{
    auto it = m_reads.find(name);
    return it == m_reads.end() ? 0 : it->second;
}

std::unique_ptr<platform::File> FaultyFileSystem::open(const std::string& path, Open how)
{
    if (int error = errorFor(m_openErrors, path); error != 0) {
        errno = error;
        return nullptr;
    }
    // Creating or emptying a file is a change; opening one that is there is not.
    if (how == Open::Truncate || (how == Open::OrCreate && !m_real.fileExists(path)))
        if (!mayChange())
            return nullptr;
    std::unique_ptr<platform::File> real = m_real.open(path, how);
    if (!real)
        return nullptr;
    return std::make_unique<FaultyFile>(*this, std::move(real), path);
}

bool FaultyFileSystem::removeFile(const std::string& path)
{
    return mayChange() && m_real.removeFile(path);
}

std::optional<std::vector<std::string>> FaultyFileSystem::listFiles(const std::string& directory)
{
    if (m_listingError != 0) {
        errno = m_listingError;
        return std::nullopt;
    }
    return m_real.listFiles(directory);
}

bool FaultyFileSystem::fileExists(const std::string& path)
{
    return m_real.fileExists(path);
}

bool FaultyFileSystem::directoryExists(const std::string& path)
{
    return m_real.directoryExists(path);
}

bool FaultyFileSystem::createDirectory(const std::string& path)
{
    return mayChange() && m_real.createDirectory(path);
}

bool FaultyFileSystem::syncDirectory(const std::string&)
{
    return true;
}

int FaultyFileSystem::lastError() const
{
    return errno;
}

} // namespace fakes
