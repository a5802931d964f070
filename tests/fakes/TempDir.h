// tests/fakes/TempDir.h: a fresh directory removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace fakes {

class TempDir
{
public:
    TempDir() : TempDir(std::filesystem::temp_directory_path().string()) {}

    // Under base instead of the system's temporary directory.
    // The path uses '/' on every system.
    explicit TempDir(const std::string& base)
    {
        // create_directory answers false for a name that is taken, so each test gets its own.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
            std::filesystem::path p =
                std::filesystem::path(base) / ("gpsbridge-test-" + std::to_string(random()));
            std::error_code ec;
            if (std::filesystem::create_directory(p, ec))
                m_path = p.generic_string();
        }
    }

    // A directory in memory where there is one: for tests that write and delete many large
    // files, which a disk with discard makes slow.
    static std::string memoryBase()
    {
        std::error_code ec;
        return std::filesystem::is_directory("/dev/shm", ec)
                   ? std::string("/dev/shm")
                   : std::filesystem::temp_directory_path().string();
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }

    std::string file(const std::string& name) const { return m_path + "/" + name; }

    std::string read(const std::string& name) const
    {
        std::ifstream in(file(name), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    std::string m_path;
};

} // namespace fakes
