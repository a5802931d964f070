// tests/fakes/PowerCutFileSystem.h: files in memory that lose at a power cut what no flush made
// last. Each file keeps its bytes as of its last File::sync apart from what was only written;
// each directory keeps its entries as of its last syncDirectory apart from the ones made or
// removed since. A cut turns every file and directory into what was flushed: a file created in
// a directory that was not flushed since is gone, one removed from it is back with its flushed
// bytes.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace fakes {

class PowerCutFileSystem final : public platform::FileSystem
{
public:
    // root: the one directory there (and on the disk) from the start, such as "/disk".
    explicit PowerCutFileSystem(std::string root);

    // The power goes off: the files become what was flushed, and every call fails with EIO
    // until restart. Files opened before the cut stay dead after it, and lose their locks.
    void cut();
    void restart() { m_off = false; }
    bool isOff() const { return m_off; }

    // Cuts the power as step `step` begins, so it is not done; -1: never. A step is a change (a
    // write, truncation, creation, removal, new directory) or a flush, counted from 0.
    void cutBefore(long step) { m_cutBefore = step; }
    long steps() const { return m_steps; }

    // Called with the path of each file or directory about to be flushed, on the flushing
    // thread, without this file layer's lock: it may use the files, and whatever it does comes
    // before the flush.
    void onFlush(std::function<void(const std::string& path)> action);

    std::unique_ptr<platform::File> open(const std::string& path, Open how) override;
    bool removeFile(const std::string& path) override;
    std::optional<std::vector<std::string>> listFiles(const std::string& directory) override;
    bool fileExists(const std::string& path) override { return exists(path, false); }
    bool directoryExists(const std::string& path) override { return exists(path, true); }
    bool createDirectory(const std::string& path) override;
    bool syncDirectory(const std::string& path) override;
    int lastError() const override { return errno; }

private:
    friend class PowerCutFile;

    // A file or a directory.
    struct Node
    {
        explicit Node(bool isDirectory = false) : directory(isDirectory) {}
        bool directory;
        std::vector<std::uint8_t> bytes, flushedBytes;
        std::map<std::string, std::shared_ptr<Node>> entries, flushedEntries;
        const void* lockHolder = nullptr;
    };
    // Where a path leads: the directory it is (or would be) in and the node there, each null
    // when there is none, and its name in that directory.
    struct Place
    {
        std::shared_ptr<Node> directory, node;
        std::string name;
    };

    // Under m_mutex. A change or a flush by a file opened in power-up `era` (or by the file
    // layer: the current one); false, with errno set, when it fails.
    bool step(long era);
    void cutLocked();
    // Back to what was flushed, from this directory down; locks go with the power.
    static void revert(Node& directory);
    Place locate(const std::string& path) const; // under m_mutex
    bool exists(const std::string& path, bool directory) const;
    void runFlushAction(const std::string& path);

    const std::string m_root;
    mutable std::mutex m_mutex;
    std::shared_ptr<Node> m_top; // guarded by m_mutex, like m_era and m_onFlush
    long m_era = 0;
    std::function<void(const std::string&)> m_onFlush;
    // Changed under m_mutex as steps go, and also read and set by the test without it.
    std::atomic<bool> m_off = false;
    std::atomic<long> m_steps = 0, m_cutBefore = -1;
};

} // namespace fakes
