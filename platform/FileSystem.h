// platform/FileSystem.h: files read and written at offsets, and the directory operations that
// keep a set of data files, behind an interface so a store can be run over a file layer that
// fails or stops on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One open file, closed by the destructor. Every call that fails leaves the reason for
// FileSystem::lastError on the calling thread.
class File
{
public:
    virtual ~File() = default;

    virtual std::optional<std::uint64_t> size() const = 0;

    // Up to count bytes from offset; fewer at the end of the file. Nothing on error.
    virtual std::optional<std::size_t> readAt(std::uint64_t offset, void* buffer,
                                              std::size_t count) const = 0;

    // All count bytes at offset, or false (some may have been written).
    virtual bool writeAt(std::uint64_t offset, const void* data, std::size_t count) = 0;

    virtual bool truncate(std::uint64_t size) = 0;

    // Flushes the file's data to the disk, whichever open file wrote it. May run on one thread
    // while another reads or writes the file.
    virtual bool sync() = 0;

    // An exclusive lock on the whole file, held while this object lives, also against other
    // processes. False when another holder has it (or locking fails).
    virtual bool tryLock() = 0;
};

class FileSystem
{
public:
    enum class Open
    {
        Existing, // fails when the file is missing
        OrCreate, // opens it, creating an empty one when missing
        Truncate  // creates it, or empties an existing one
    };

    virtual ~FileSystem() = default;

    // Opens for reading and writing. Null when it cannot (missing, a directory, no rights).
    virtual std::unique_ptr<File> open(const std::string& path, Open how) = 0;

    // False when the file could not be removed (a missing file counts as removed).
    virtual bool removeFile(const std::string& path) = 0;

    // Names (not paths) of the regular files in a directory; nothing when it cannot be read
    // (an empty directory gives an empty list).
    virtual std::optional<std::vector<std::string>> listFiles(const std::string& directory) = 0;

    virtual bool fileExists(const std::string& path) = 0;
    virtual bool directoryExists(const std::string& path) = 0;

    // Creates one directory level; an existing one is fine.
    virtual bool createDirectory(const std::string& path) = 0;

    // Makes the directory's entries (files created, renamed, removed) last on the disk.
    virtual bool syncDirectory(const std::string& path) = 0;

    // The calling thread's error number of the last failed call; read it right after the
    // failure (0 when it failed without one).
    virtual int lastError() const = 0;
};

// The operating system's files.
FileSystem& osFileSystem();

// The system's words for an error number ("No space left on device").
std::string errorText(int osError);

// The error number says the disk (or the user's quota) is full.
bool isDiskFullError(int osError);

// The error number says the file is not there (not that it could not be opened for another
// reason: too many open files, no rights, a failing disk).
bool isNotFoundError(int osError);

} // namespace platform
