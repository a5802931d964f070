// app/SystemdManager.cpp
#include "app/SystemdManager.h"

#include <systemd/sd-daemon.h>

namespace app {

void SystemdManager::notify(const std::string& state)
{
    // Without NOTIFY_SOCKET (not started by systemd) this does nothing; a failed send only
    // loses the line.
    ::sd_notify(0, state.c_str());
}

std::optional<std::chrono::microseconds> SystemdManager::watchdogInterval() const
{
    std::uint64_t usec = 0;
    if (::sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return std::nullopt;
    return std::chrono::microseconds(usec);
}

} // namespace app
