// app/ServiceDuties.cpp
#include "app/ServiceDuties.h"

#include "app/DayLogRetention.h"
#include "app/StartUp.h"

namespace app {

ServiceDuties::ServiceDuties(Gateway& gateway, ServiceManager& manager, PublishStatus publishStatus)
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
    // The snapshot is taken here, on the main thread, with each reading of the figures; the
    // endpoint's thread only ever sees the copy.
    if (publishStatus)
        sources.publishMetrics = [&gateway,
                                  publish = std::move(publishStatus)](const GatewayFigures& f) {
            publish(f, gateway.statusSnapshot(f.link));
        };
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
