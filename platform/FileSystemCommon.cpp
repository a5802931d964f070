// platform/FileSystemCommon.cpp: what the file layer's error numbers mean, the same on every
// system (the Windows layer reports the C library's numbers too).
#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>

namespace platform {

std::string errorText(int osError)
{
    return std::strerror(osError);
}

bool isDiskFullError(int osError)
{
#ifdef EDQUOT // the user's quota; Windows has no such number and reports a quota as ENOSPC
    if (osError == EDQUOT)
        return true;
#endif
    return osError == ENOSPC;
}

// On Windows ERROR_FILE_NOT_FOUND and ERROR_PATH_NOT_FOUND both arrive here as ENOENT.
bool isNotFoundError(int osError)
{
    return osError == ENOENT;
}

} // namespace platform
