// backlog/StoreStatus.cpp
#include "backlog/StoreStatus.h"

#include "platform/FileSystem.h"

namespace backlog {

StoreStatus StoreStatus::fromError(std::string what, int osError)
{
    StoreStatus s;
    s.m_kind = platform::isDiskFullError(osError) ? Kind::DiskFull : Kind::IoError;
    s.m_osError = osError;
    s.m_text = "cannot " + what;
    if (osError != 0)
        s.m_text += ": " + platform::errorText(osError);
    return s;
}

StoreStatus StoreStatus::damaged(std::string what)
{
    StoreStatus s;
    s.m_kind = Kind::Damaged;
    s.m_text = std::move(what);
    return s;
}

} // namespace backlog
