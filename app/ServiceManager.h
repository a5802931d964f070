// app/ServiceManager.h: what the gateway tells the service manager that runs it (systemd), and
// how often that manager wants to hear it is alive.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace app {

class ServiceManager
{
public:
    virtual ~ServiceManager() = default;

    // Main thread. One state line: "READY=1", "STATUS=...", "WATCHDOG=1", "STOPPING=1".
    // Without a manager (started from a shell or the desktop) nothing happens.
    virtual void notify(const std::string& state) = 0;

    // How often the manager wants "WATCHDOG=1" at the latest; nothing when it does not watch.
    virtual std::optional<std::chrono::microseconds> watchdogInterval() const = 0;
};

} // namespace app
