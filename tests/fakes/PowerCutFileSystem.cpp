// tests/fakes/PowerCutFileSystem.cpp
#include "tests/fakes/PowerCutFileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fakes {

// One open file; dead once the power went off after it was opened.
class PowerCutFile final : public platform::File
{
public:
    using Node = PowerCutFileSystem::Node;

    PowerCutFile(PowerCutFileSystem& fs, std::shared_ptr<Node> node, long era, std::string path)
        : m_fs(fs), m_node(std::move(node)), m_era(era), m_path(std::move(path))
    {
    }
    ~PowerCutFile() override
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (m_node->lockHolder == this)
            m_node->lockHolder = nullptr;
    }
    PowerCutFile(const PowerCutFile&) = delete;
    PowerCutFile& operator=(const PowerCutFile&) = delete;

    std::optional<std::uint64_t> size() const override
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (!live())
            return std::nullopt;
        return m_node->bytes.size();
    }

    std::optional<std::size_t> readAt(std::uint64_t offset, void* buffer,
                                      std::size_t count) const override
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (!live())
            return std::nullopt;
        const auto& bytes = m_node->bytes;
        const auto from = static_cast<std::size_t>(std::min<std::uint64_t>(offset, bytes.size()));
        const std::size_t got = std::min(count, bytes.size() - from);
        if (got > 0)
            std::memcpy(buffer, bytes.data() + from, got);
        return got;
    }

    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (!m_fs.step(m_era))
            return false;
        auto& bytes = m_node->bytes;
        const auto at = static_cast<std::size_t>(offset);
        bytes.resize(std::max(bytes.size(), at + count));
        if (count > 0)
            std::memcpy(bytes.data() + at, data, count);
        return true;
    }

    bool truncate(std::uint64_t size) override
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (!m_fs.step(m_era))
            return false;
        m_node->bytes.resize(static_cast<std::size_t>(size));
        return true;
    }

    bool sync() override
    {
        m_fs.runFlushAction(m_path);
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (!m_fs.step(m_era))
            return false;
        m_node->flushedBytes = m_node->bytes;
        return true;
    }

    bool tryLock() override
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (!live())
            return false;
        if (m_node->lockHolder != nullptr && m_node->lockHolder != this) {
            errno = EWOULDBLOCK;
            return false;
        }
        m_node->lockHolder = this;
        return true;
    }

private:
    bool live() const { return (!m_fs.m_off && m_era == m_fs.m_era) || m_fs.fail(EIO); }

    PowerCutFileSystem& m_fs;
    const std::shared_ptr<Node> m_node;
    const long m_era;
    const std::string m_path;
};

void PowerCutFileSystem::revert(Node& directory)
{
    directory.entries = directory.flushedEntries;
    for (auto& [name, node] : directory.entries) {
        if (node->directory) {
            revert(*node);
        } else {
            node->bytes = node->flushedBytes;
            node->lockHolder = nullptr;
        }
    }
}

PowerCutFileSystem::PowerCutFileSystem(std::string root)
    : m_root(std::move(root)), m_top(std::make_shared<Node>())
{
    m_top->directory = true;
}

void PowerCutFileSystem::cut()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    cutLocked();
}

void PowerCutFileSystem::cutLocked()
{
    m_cutBefore = -1;
    revert(*m_top);
    ++m_era;
    m_off = true;
}

void PowerCutFileSystem::restart()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_off = false;
}

bool PowerCutFileSystem::isOff() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_off;
}

void PowerCutFileSystem::cutBefore(long step)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cutBefore = step;
}

long PowerCutFileSystem::steps() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_steps;
}

void PowerCutFileSystem::onFlush(std::function<void(const std::string&)> action)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onFlush = std::move(action);
}

void PowerCutFileSystem::runFlushAction(const std::string& path)
{
    std::function<void(const std::string&)> action;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        action = m_onFlush;
    }
    if (action)
        action(path);
}

bool PowerCutFileSystem::fail(int osError) const
{
    errno = osError;
    return false;
}

bool PowerCutFileSystem::step(long era)
{
    if (m_off || era != m_era)
        return fail(EIO);
    if (m_steps == m_cutBefore) {
        cutLocked();
        return fail(EIO);
    }
    ++m_steps;
    return true;
}

std::shared_ptr<PowerCutFileSystem::Node> PowerCutFileSystem::find(const std::string& path) const
{
    if (path == m_root)
        return m_top;
    std::string name;
    std::shared_ptr<Node> directory = parentOf(path, &name);
    if (!directory)
        return nullptr;
    auto it = directory->entries.find(name);
    return it == directory->entries.end() ? nullptr : it->second;
}

std::shared_ptr<PowerCutFileSystem::Node> PowerCutFileSystem::parentOf(const std::string& path,
                                                                       std::string* name) const
{
    if (path.size() <= m_root.size() + 1 || path.compare(0, m_root.size() + 1, m_root + "/") != 0)
        return nullptr;
    const std::size_t slash = path.find_last_of('/');
    *name = path.substr(slash + 1);
    std::shared_ptr<Node> directory = find(path.substr(0, slash));
    return directory && directory->directory ? directory : nullptr;
}

std::unique_ptr<platform::File> PowerCutFileSystem::open(const std::string& path, Open how)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string name;
    std::shared_ptr<Node> directory = parentOf(path, &name);
    if (m_off || !directory) {
        fail(m_off ? EIO : ENOENT);
        return nullptr;
    }
    std::shared_ptr<Node> node = find(path);
    if (node && node->directory) {
        fail(EISDIR);
        return nullptr;
    }
    if (!node && how == Open::Existing) {
        fail(ENOENT);
        return nullptr;
    }
    if (!node || how == Open::Truncate) {
        if (!step(m_era))
            return nullptr;
        if (!node)
            node = directory->entries[name] = std::make_shared<Node>();
        node->bytes.clear();
    }
    return std::make_unique<PowerCutFile>(*this, node, m_era, path);
}

bool PowerCutFileSystem::removeFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string name;
    std::shared_ptr<Node> directory = parentOf(path, &name);
    std::shared_ptr<Node> node = find(path);
    if (m_off || (node && node->directory))
        return fail(m_off ? EIO : EISDIR);
    if (!node)
        return true;
    if (!step(m_era))
        return false;
    directory->entries.erase(name);
    return true;
}

std::optional<std::vector<std::string>> PowerCutFileSystem::listFiles(const std::string& directory)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node = find(directory);
    if (m_off || !node || !node->directory) {
        fail(m_off ? EIO : ENOENT);
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (const auto& [name, entry] : node->entries)
        if (!entry->directory)
            names.push_back(name);
    return names;
}

bool PowerCutFileSystem::fileExists(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node = find(path);
    return !m_off && node && !node->directory;
}

bool PowerCutFileSystem::directoryExists(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node = find(path);
    return !m_off && node && node->directory;
}

bool PowerCutFileSystem::createDirectory(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string name;
    std::shared_ptr<Node> directory = parentOf(path, &name);
    std::shared_ptr<Node> node = find(path);
    if (m_off || !directory || (node && !node->directory))
        return fail(m_off ? EIO : !directory ? ENOENT : EEXIST);
    if (node)
        return true;
    if (!step(m_era))
        return false;
    node = directory->entries[name] = std::make_shared<Node>();
    node->directory = true;
    return true;
}

bool PowerCutFileSystem::syncDirectory(const std::string& path)
{
    runFlushAction(path);
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node = find(path);
    if (!m_off && (!node || !node->directory))
        return fail(ENOENT);
    if (!step(m_era))
        return false;
    node->flushedEntries = node->entries;
    return true;
}

int PowerCutFileSystem::lastError() const
{
    return errno;
}

} // namespace fakes
