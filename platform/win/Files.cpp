// platform/win/Files.cpp: Windows file helpers. Paths are UTF-8 and may use '/'.
#include "platform/Files.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "platform/win/WideText.h"

namespace platform {

using win::widen;

std::string currentDirectory()
{
    DWORD n = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring buf(n, L'\0');
    n = ::GetCurrentDirectoryW(n, buf.data());
    if (n == 0 || n >= buf.size())
        return ".";
    buf.resize(n);
    std::string path = win::narrow(buf);
    std::replace(path.begin(), path.end(), '\\', '/');
    // A drive's root keeps its separator: "C:" alone would mean the drive's current directory.
    if (path.size() > 3 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string homeDirectory()
{
    const wchar_t* home = ::_wgetenv(L"USERPROFILE");
    if (home == nullptr || *home == L'\0')
        return "C:/";
    std::string path = win::narrow(home);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

bool directoryExists(const std::string& path)
{
    DWORD a = ::GetFileAttributesW(widen(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool fileExists(const std::string& path)
{
    DWORD a = ::GetFileAttributesW(widen(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES &&
           (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool createDirectory(const std::string& path)
{
    return ::CreateDirectoryW(widen(path).c_str(), nullptr) != 0 ||
           (::GetLastError() == ERROR_ALREADY_EXISTS && directoryExists(path));
}

bool appendToFile(const std::string& path, std::string_view bytes)
{
    // Append-only access: every write lands at the end, whoever else has the file open. Others
    // may read, write, rename or delete it meanwhile, as they could on POSIX.
    HANDLE h = ::CreateFileW(widen(path).c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    return ::CloseHandle(h) != 0 && ok;
}

} // namespace platform
