// tests/fakes/FaultyFileSystem.h: the real files, with faults on demand: writes refused with a
// chosen error (a full or read-only disk), a write that gets only part of its bytes onto the
// disk, a crash after a given number of changes (everything after it is not done), opens, reads
// or listings that fail until told otherwise, and a count of the reads of each file.
#pragma once

#include <cerrno>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace fakes {

class FaultyFileSystem final : public platform::FileSystem
{
public:
    // From now on every change (a write, truncation, creation, removal, rename, new directory)
    // fails with this error number and changes nothing; 0 ends it.
    void refuseChanges(int osError) { m_refusal = osError; }

    // The next write puts only this many of its bytes on the disk, then fails with osError.
    void tearNextWrite(std::size_t bytes, int osError) { m_tear = Tear{bytes, osError}; }

    // The process dies after this many more changes: the ones after it are not done (they fail
    // with EIO, as if nobody was there to do them). -1: never.
    void crashAfter(long changes) { m_crashAt = changes < 0 ? -1 : m_changes + changes; }
    // Changes done so far.
    long changes() const { return m_changes; }

    // From now on opening a file of this name (not a path), reading one (open already or not), or
    // listing a directory fails with this error number; 0 ends it.
    void failOpens(const std::string& name, int osError) { m_openErrors[name] = osError; }
    void failReads(const std::string& name, int osError) { m_readErrors[name] = osError; }
    void failListings(int osError) { m_listingError = osError; }
    // From now on flushing a file to the disk fails with this error number; 0 ends it.
    void failSyncs(int osError) { m_syncError = osError; }

    // Reads of files whose name is this (not a path), since the last reset.
    int readsOf(const std::string& name) const;
    void resetReads() { m_reads.clear(); }

    std::unique_ptr<platform::File> open(const std::string& path, Open how) override;
    bool removeFile(const std::string& path) override;
    std::optional<std::vector<std::string>> listFiles(const std::string& directory) override;
    bool fileExists(const std::string& path) override { return m_real.fileExists(path); }
    bool directoryExists(const std::string& path) override { return m_real.directoryExists(path); }
    bool createDirectory(const std::string& path) override;
    bool syncDirectory(const std::string&) override { return true; }
    int lastError() const override { return errno; }

private:
    friend class FaultyFile;
    struct Tear
    {
        std::size_t bytes;
        int osError;
    };

    // False when the change may not be done (errno set).
    bool mayChange();
    // Counts the read; false when it is to fail (errno set).
    bool mayRead(const std::string& path);

    platform::FileSystem& m_real = platform::osFileSystem();
    int m_refusal = 0;
    long m_changes = 0;
    long m_crashAt = -1;        // when m_changes gets here; -1: never
    std::optional<Tear> m_tear; // for the next write
    std::map<std::string, int> m_reads, m_openErrors, m_readErrors; // by file name
    int m_listingError = 0;
    int m_syncError = 0;
};

} // namespace fakes
