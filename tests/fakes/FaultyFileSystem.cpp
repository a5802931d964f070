// tests/fakes/FaultyFileSystem.cpp
#include "tests/fakes/FaultyFileSystem.h"

#include <algorithm>
#include <utility>

namespace fakes {

namespace {

std::string nameOf(const std::string& path)
{
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The number kept for this file's name (an error number, a count of reads); 0 when none is.
int numberFor(const std::map<std::string, int>& errors, const std::string& path)
{
    auto it = errors.find(nameOf(path));
    return it == errors.end() ? 0 : it->second;
}

} // namespace

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
        return m_fs.mayRead(m_path) ? m_real->readAt(offset, buffer, count) : std::nullopt;
    }

    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override
    {
        if (!m_fs.mayChange())
            return false;
        if (const auto tear = std::exchange(m_fs.m_tear, std::nullopt)) {
            (void)m_real->writeAt(offset, data, std::min(tear->bytes, count));
            errno = tear->osError;
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
        errno = m_fs.m_syncError;
        return errno == 0;
    }
    bool tryLock() override { return m_real->tryLock(); }

private:
    FaultyFileSystem& m_fs;
    std::unique_ptr<platform::File> m_real;
    std::string m_path;
};

bool FaultyFileSystem::mayChange()
{
    if (m_changes == m_crashAt || m_refusal != 0) {
        errno = m_changes == m_crashAt ? EIO : m_refusal;
        return false;
    }
    ++m_changes;
    return true;
}

bool FaultyFileSystem::mayRead(const std::string& path)
{
    ++m_reads[nameOf(path)];
    errno = numberFor(m_readErrors, path);
    return errno == 0;
}

int FaultyFileSystem::readsOf(const std::string& name) const
{
    return numberFor(m_reads, name);
}

std::unique_ptr<platform::File> FaultyFileSystem::open(const std::string& path, Open how)
{
    if (int error = numberFor(m_openErrors, path); error != 0) {
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
    errno = m_listingError;
    return errno == 0 ? m_real.listFiles(directory) : std::nullopt;
}

bool FaultyFileSystem::createDirectory(const std::string& path)
{
    return mayChange() && m_real.createDirectory(path);
}

} // namespace fakes
