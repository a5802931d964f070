// fuzz/FuzzCheck.cpp
#include "fuzz/FuzzCheck.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace fuzz {

namespace {

std::string makeScratch()
{
    std::error_code ec;
    const std::string base = std::filesystem::is_directory("/dev/shm", ec)
                                 ? std::string("/dev/shm")
                                 : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/gpsbridge-fuzz-XXXXXX";
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory in " + base);
    return pattern;
}

void removeScratch()
{
    std::error_code ec;
    std::filesystem::remove_all(scratchDirectory(), ec);
}

} // namespace

const std::string& scratchDirectory()
{
    // Never destroyed: the removal at exit still needs it.
    static const std::string* path = [] {
        auto made = new std::string(makeScratch());
        std::atexit(removeScratch);
        return made;
    }();
    return *path;
}

void emptyDirectory(const std::string& directory)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec))
        std::filesystem::remove_all(entry.path(), ec);
}

platform::Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return platform::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const platform::Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(out.good(), "cannot write " + path);
}

std::string hex(const std::uint8_t* data, std::size_t size)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        if (i > 0)
            out += ' ';
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

} // namespace fuzz
