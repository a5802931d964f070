// app/HeadlessRun.cpp
#include "app/HeadlessRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/EventPrinter.h"
#include "app/Gateway.h"
#include "app/ServiceDuties.h"
#include "app/StartUp.h"
#include "app/StatusView.h"
#include "platform/MainLoop.h"
#include "platform/StopSignal.h"

namespace app {

namespace {

constexpr std::chrono::milliseconds kDispatchInterval{10};

// Serves the loop between the dispatch ticks and the duties' ticks until the stop signal; the
// signal is looked at after every tick, so a stop waits at most one dispatch interval.
void serveUntilStopSignal(platform::MainLoop& loop, Gateway& gateway, ServiceDuties& duties)
{
    using Clock = platform::MainLoop::Clock;
    Clock::time_point nextDispatch = Clock::now() + kDispatchInterval;
    Clock::time_point nextDuties = Clock::now() + duties.tickInterval();
    while (!platform::stopSignal()) {
        loop.serveUntil(std::min(nextDispatch, nextDuties));
        const Clock::time_point now = Clock::now();
        if (now >= nextDispatch) {
            gateway.dispatchTick();
            nextDispatch = now + kDispatchInterval;
        }
        if (now >= nextDuties) {
            duties.tick();
            nextDuties = now + duties.tickInterval();
        }
    }
}

} // namespace

int runHeadless(const HeadlessOptions& options)
{
    platform::MainLoop loop;
    StatusView view;
    // Declared before the gateway: the client still reports while the gateway stops.
    EventPrinter printer(eventOutput(), note);
    view.onEventAppended = [&printer](const std::string& line) { printer.print(line); };
    Gateway gateway(view, gatewayOptions(options.workdir, options.settings));
    if (!startGateway([&] { gateway.start(); }))
        return kExitStartFailed;
    if (std::string failure = backlogFailure(gateway); !failure.empty()) {
        // Nothing could be acknowledged without a backlog to keep it in.
        note(failure + "; stopping");
        gateway.stop();
        return kExitStartFailed;
    }
    note(backlogWaiting(gateway));
    if (!gateway.listening()) {
        // Without its port the gateway is of no use to anyone; ending lets the service manager
        // restart it until the port is free. The client is stopped in order first.
        note(portFailure(gateway) + "; stopping");
        options.manager->notify("STATUS=" + portFailure(gateway));
        gateway.stop();
        note(backlogWaiting(gateway));
        return kExitPortClosed;
    }
    note("listening on tracker port " + std::to_string(gateway.listener().boundPort()));

    PublishStatus publish;
    if (options.startMetrics)
        publish = options.startMetrics(gateway.settings());
    ServiceDuties duties(gateway, *options.manager, std::move(publish));
    duties.ready();
    serveUntilStopSignal(loop, gateway, duties);

    duties.stopping();
    gateway.stop();
    if (gateway.unkeptAtStop() > 0)
        note("backlog: " + std::to_string(gateway.unkeptAtStop()) +
             " messages and packets could not be kept before the stop; none of them was "
             "acknowledged, the trackers send them again");
    note(backlogWaiting(gateway));
    note("stopped in order");
    return kExitStopped;
}

} // namespace app
