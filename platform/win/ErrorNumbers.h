// platform/win/ErrorNumbers.h: Win32 error codes as the C library's error numbers, so the file
// layer reports the same numbers on every system and "disk full" is ENOSPC everywhere.
#pragma once

namespace platform::win {

// The error number for a Win32 error code (GetLastError); EIO for a code without a closer one.
// A full disk and an exceeded quota are both ENOSPC.
int errorNumberOf(unsigned long win32Error);

// Sets errno from the calling thread's GetLastError; for a function that has just failed.
void takeLastError();

} // namespace platform::win
