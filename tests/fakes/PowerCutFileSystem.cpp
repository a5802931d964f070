// tests/fakes/PowerCutFileSystem.cpp
#include "tests/fakes/PowerCutFileSystem.h"

#include <algorithm>

namespace fakes {

namespace {

bool fail(int osError)
{
    errno = osError;
    return false;
}

} // namespace

// One open file; dead once the power went off after it was opened.
class PowerCutFile final : public platform::File
{
public:
    PowerCutFile(PowerCutFileSystem& fs, std::shared_ptr<PowerCutFileSystem::Node> node,
                 std::string path)
        : m_fs(fs), m_node(std::move(node)), m_era(fs.m_era), m_path(std::move(path))
    {
    }
    ~PowerCutFile() override
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (m_node->lockHolder == this)
            m_node->lockHolder = nullptr;
    }

    std::optional<std::uint64_t> size() const override
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        return live() ? std::optional(m_node->bytes.size()) : std::nullopt;
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
        std::copy_n(bytes.data() + from, got, static_cast<std::uint8_t*>(buffer));
        return got;
    }

    bool writeAt(std::uint64_t offset, const void* data, std::size_t count) override
    {
        const auto at = static_cast<std::size_t>(offset);
        return change([&](std::vector<std::uint8_t>& bytes) {
            bytes.resize(std::max(bytes.size(), at + count));
            std::copy_n(static_cast<const std::uint8_t*>(data), count, bytes.data() + at);
        });
    }

    bool truncate(std::uint64_t size) override
    {
        return change([&](auto& bytes) { bytes.resize(static_cast<std::size_t>(size)); });
    }

    bool sync() override
    {
        m_fs.runFlushAction(m_path);
        return change([this](auto& bytes) { m_node->flushedBytes = bytes; });
    }

    bool tryLock() override
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (!live())
            return false;
        if (m_node->lockHolder != nullptr && m_node->lockHolder != this)
            return fail(EWOULDBLOCK);
        m_node->lockHolder = this;
        return true;
    }

private:
    bool live() const { return (!m_fs.m_off && m_era == m_fs.m_era) || fail(EIO); }

    // A write, truncation or flush of this file's bytes, counted as a step.
    template <typename Change> bool change(Change change)
    {
        std::lock_guard<std::mutex> lock(m_fs.m_mutex);
        if (!m_fs.step(m_era))
            return false;
        change(m_node->bytes);
        return true;
    }

    PowerCutFileSystem& m_fs;
    const std::shared_ptr<PowerCutFileSystem::Node> m_node;
    const long m_era;
    const std::string m_path;
};

PowerCutFileSystem::PowerCutFileSystem(std::string root)
    : m_root(std::move(root)), m_top(std::make_shared<Node>(true))
{
}

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

void PowerCutFileSystem::cut()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    cutLocked();
}

void PowerCutFileSystem::onFlush(std::function<void(const std::string&)> action)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onFlush = std::move(action);
}

void PowerCutFileSystem::cutLocked()
{
    m_cutBefore = -1;
    revert(*m_top);
    ++m_era;
    m_off = true;
}

void PowerCutFileSystem::runFlushAction(const std::string& path)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    std::function<void(const std::string&)> action = m_onFlush;
    lock.unlock();
    if (action)
        action(path);
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

PowerCutFileSystem::Place PowerCutFileSystem::locate(const std::string& path) const
{
    if (path == m_root)
        return {nullptr, m_top, ""};
    if (path.size() <= m_root.size() + 1 || path.compare(0, m_root.size() + 1, m_root + "/") != 0)
        return {};
    const std::size_t slash = path.find_last_of('/');
    Place place{locate(path.substr(0, slash)).node, nullptr, path.substr(slash + 1)};
    if (!place.directory || !place.directory->directory)
        return {};
    auto it = place.directory->entries.find(place.name);
    place.node = it == place.directory->entries.end() ? nullptr : it->second;
    return place;
}

bool PowerCutFileSystem::exists(const std::string& path, bool directory) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node = locate(path).node;
    return !m_off && node && node->directory == directory;
}

std::unique_ptr<platform::File> PowerCutFileSystem::open(const std::string& path, Open how)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto [directory, node, name] = locate(path);
    if (m_off || !directory || (node && node->directory) || (!node && how == Open::Existing)) {
        fail(m_off ? EIO : directory && node ? EISDIR : ENOENT);
        return nullptr;
    }
    if ((!node || how == Open::Truncate) && !step(m_era))
        return nullptr;
    if (!node)
        node = directory->entries[name] = std::make_shared<Node>();
    if (how == Open::Truncate)
        node->bytes.clear();
    return std::make_unique<PowerCutFile>(*this, node, path);
}

bool PowerCutFileSystem::removeFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto [directory, node, name] = locate(path);
    if (m_off || (node && node->directory))
        return fail(m_off ? EIO : EISDIR);
    return !node || (step(m_era) && directory->entries.erase(name) == 1); // missing: removed
}

std::optional<std::vector<std::string>> PowerCutFileSystem::listFiles(const std::string& directory)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node = locate(directory).node;
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

bool PowerCutFileSystem::createDirectory(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto [directory, node, name] = locate(path);
    if (m_off || !directory || (node && !node->directory))
        return fail(m_off ? EIO : !directory ? ENOENT : EEXIST);
    if (!node && !step(m_era))
        return false;
    directory->entries.try_emplace(name, std::make_shared<Node>(true));
    return true;
}

bool PowerCutFileSystem::syncDirectory(const std::string& path)
{
    runFlushAction(path);
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node = locate(path).node;
    if (!m_off && (!node || !node->directory))
        return fail(ENOENT);
    if (!step(m_era))
        return false;
    node->flushedEntries = node->entries;
    return true;
}

} // namespace fakes
