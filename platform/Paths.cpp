// platform/Paths.cpp: the path helpers of Files.h that call no OS, shared by every system. Paths
// are joined with '/', which Windows takes as well.
#include "platform/Files.h"

namespace platform {

std::string joinPath(std::string_view dir, std::string_view name)
{
    std::string path(dir);
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

} // namespace platform
