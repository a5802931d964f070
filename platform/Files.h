// platform/Files.h: working directory and file helpers.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The process's current directory, without a trailing separator.
std::string currentDirectory();

// The user's home directory (HOME; USERPROFILE on Windows); "/" ("C:/") when unset.
std::string homeDirectory();

// dir + separator + name.
std::string joinPath(std::string_view dir, std::string_view name);

bool directoryExists(const std::string& path);
bool fileExists(const std::string& path);

// Creates one directory level. False when it could not be created (an existing one is fine).
bool createDirectory(const std::string& path);

// Opens the file for appending (creating it when missing), writes the bytes with one write,
// and closes it. False when any step fails; nothing is retried.
bool appendToFile(const std::string& path, std::string_view bytes);

} // namespace platform
