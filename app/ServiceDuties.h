// app/ServiceDuties.h: what the gateway does for the service manager that runs it while it runs:
// readiness and stopping, the status line and watchdog (Housekeeping), the metrics' figures with
// the status page's snapshot, and day-log retention. Driven by the main thread's loop, whichever it
// is.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "app/Gateway.h"
#include "app/Housekeeping.h"

namespace app {

class ServiceDuties
{
public:
    // gateway and manager outlive this; publishStatus empty: no metrics endpoint. Day-log
    // retention as [main] KeepDayLogs says; its removals are noted on standard error.
    ServiceDuties(Gateway& gateway, ServiceManager& manager, PublishStatus publishStatus = {});
    ~ServiceDuties();

    // Main thread, once the tracker port is open and the backlog store is usable: tells the
    // manager and runs the first tick.
    void ready();

    // Main thread, every tickInterval() after ready().
    void tick();
    std::chrono::milliseconds tickInterval() const { return m_housekeeping->tickInterval(); }

    // Main thread, as the orderly stop begins.
    void stopping();

private:
    ServiceManager& m_manager;
    std::unique_ptr<DayLogRetention> m_retention;
    std::unique_ptr<Housekeeping> m_housekeeping;
};

} // namespace app
