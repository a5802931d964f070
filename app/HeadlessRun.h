// app/HeadlessRun.h: the gateway without a window, and without Qt: the calling thread runs a
// MainLoop with the dispatch tick every 10 ms, the message-server client's hand-overs and the
// service duties; link events go to standard output, notes to standard error; the stop signal
// stops it in order.
#pragma once

#include <functional>
#include <string>

#include "app/ConfigCheck.h"
#include "app/GatewayFigures.h"
#include "app/ServiceManager.h"
#include "app/Settings.h"
#include "app/StatusPage.h"

namespace app {

struct HeadlessOptions
{
    std::string workdir;
    Settings settings;
    // Told of readiness, status, watchdog and stopping; outlives the run.
    ServiceManager* manager = nullptr;
    // Called once the gateway listens: what publishes the running figures and the status page
    // (an empty function: no endpoint). Empty: no endpoint.
    std::function<PublishStatus(const MainSettings&)> startMetrics;
};

// Main thread, with no other main-thread loop installed. Returns the exit status (CommandLine.h):
// kExitStopped after an orderly stop, kExitPortClosed or kExitStartFailed when it cannot run.
int runHeadless(const HeadlessOptions& options);

} // namespace app
