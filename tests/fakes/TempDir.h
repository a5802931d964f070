// tests/fakes/TempDir.h: a fresh directory removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fakes {

class TempDir
{
public:
    TempDir()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "gpsbridge-test-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) ? pattern : std::string();
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
