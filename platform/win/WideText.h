// platform/win/WideText.h: the program's UTF-8 strings as the UTF-16 the Windows API takes, and
// back; and the system's words for an error code.
#pragma once

#include <string>
#include <string_view>

namespace platform::win {

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::wstring widen(std::string_view utf8);

// UTF-16 to UTF-8.
std::string narrow(std::wstring_view utf16);

// The system's message for a Win32 or Winsock error code, without the line break it ends in;
// "error <code>" when the system has none.
std::string systemMessage(unsigned long code);

} // namespace platform::win
