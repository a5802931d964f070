// app/SystemdManager.h: the service manager as systemd, through sd_notify.
#pragma once

#include "app/ServiceManager.h"

namespace app {

class SystemdManager final : public ServiceManager
{
public:
    void notify(const std::string& state) override;
    std::optional<std::chrono::microseconds> watchdogInterval() const override;
};

} // namespace app
