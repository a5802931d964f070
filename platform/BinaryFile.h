// platform/BinaryFile.h: files read and written at offsets, and the directory operations that
// keep a set of data files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// One open file. Others may open the same file meanwhile. Closed by the destructor.
class BinaryFile
{
public:
    enum class Open
    {
        Existing, // fails when the file is missing
        OrCreate, // opens it, creating an empty one when missing
        Truncate  // creates it, or empties an existing one
    };

    BinaryFile() = default;
    ~BinaryFile();
    BinaryFile(BinaryFile&& other) noexcept;
    BinaryFile& operator=(BinaryFile&& other) noexcept;
    BinaryFile(const BinaryFile&) = delete;
    BinaryFile& operator=(const BinaryFile&) = delete;

    // Opens for reading and writing. False when it cannot (missing, a directory, no rights).
    bool open(const std::string& path, Open how);
    bool isOpen() const { return m_fd >= 0; }
    void close();

    std::optional<std::uint64_t> size() const;

    // Up to count bytes from offset; fewer at the end of the file. Nothing on error.
    std::optional<std::size_t> readAt(std::uint64_t offset, void* buffer, std::size_t count) const;

    // All count bytes at offset, or false.
    bool writeAt(std::uint64_t offset, const void* data, std::size_t count);

    bool truncate(std::uint64_t size);

    // Flushes the file's data to the disk.
    bool sync();

private:
    int m_fd = -1;
};

// The calling thread's error number of the last failed file call; read it right after the
// failure (0 when the call failed without one, e.g. a write that wrote nothing).
int lastFileError();

// The system's words for an error number ("No space left on device").
std::string errorText(int osError);

// The error number says the disk (or the user's quota) is full.
bool isDiskFullError(int osError);

// False when the file could not be removed (a missing file counts as removed).
bool removeFile(const std::string& path);

// Renames from over to in one step: anyone opening to sees the old file or the new one, never a
// mix. Both must be in the same directory tree of one disk.
bool renameFile(const std::string& from, const std::string& to);

// Names (not paths) of the regular files in a directory; empty when it cannot be read.
std::vector<std::string> listFiles(const std::string& directory);

} // namespace platform
