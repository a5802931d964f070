// app/ServiceDuties.cpp
#include "app/ServiceDuties.h"

#include "app/DayLogRetention.h"
#include "app/StartUp.h"

namespace app {

ServiceDuties::ServiceDuties(Gateway& gateway, ServiceManager& manager,
                             std::function<void(const GatewayFigures&)> publishMetrics)
    : m_manager(manager)
{
    const MainSettings& settings = gateway.settings();
    if (settings.keepDayLogs > 0)
        m_retention = std::make_unique<DayLogRetention>(gateway.listener().dayLog(),
                                                        settings.keepDayLogs, note);
    HousekeepingSources sources;
    sources.figures = [&gateway] { return gateway.figures(); };
    sources.dispatcherTicks = [&gateway] { return gateway.dispatcherTicks(); };
    sources.clientTurns = [&gateway]() -> std::optional<std::uint64_t> {
        if (msglink::LinkControl* c = gateway.client())
            return c->turns();
        return std::nullopt;
    };
    sources.publishMetrics = std::move(publishMetrics);
    sources.retention = m_retention.get();
    m_housekeeping = std::make_unique<Housekeeping>(std::move(sources), m_manager);
}

ServiceDuties::~ServiceDuties() = default;

void ServiceDuties::ready()
{
    m_manager.notify("READY=1");
    tick();
}

void ServiceDuties::tick()
{
    m_housekeeping->tick(Housekeeping::Clock::now());
}

void ServiceDuties::stopping()
{
    m_manager.notify("STOPPING=1");
}

} // namespace app
