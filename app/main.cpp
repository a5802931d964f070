// app/main.cpp: gpsbridge entry point.
#include <QApplication>
#include <QCoreApplication>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "app/MetricsExporter.h"
#include "app/ServiceDuties.h"
#include "app/StartUp.h"
#include "app/StatusWindow.h"
#include "app/SystemdManager.h"
#include "platform/Desktop.h"
#include "platform/StopSignal.h"

namespace {

using app::note;

// The endpoint at [main] MetricsAddress, when set (metrics and the status page): what publishes
// the figures and the status there.
app::PublishStatus startMetrics(const app::MainSettings& settings)
{
    if (settings.metricsAddress.empty())
        return {};
    try {
        auto metrics = std::make_shared<app::MetricsExporter>(settings.metricsAddress);
        const std::string served = metrics->address(); // port 0 in the settings: any free one
        note("metrics at http://" + served + "/metrics, status page at http://" + served + "/");
        return [metrics](const app::GatewayFigures& f, app::StatusSnapshot status) {
            metrics->publish(f, std::move(status));
        };
    } catch (const std::exception& e) {
        note("metrics: cannot serve on " + settings.metricsAddress + " (" + e.what() +
             "); running without them");
    }
    return {};
}

int runHeadless(const std::string& workdir, const app::Settings& settings)
{
    app::SystemdManager manager;
    app::HeadlessOptions options;
    options.workdir = workdir;
    options.settings = settings;
    options.manager = &manager;
    options.startMetrics = startMetrics;
    return app::runHeadless(options);
}

int runWindow(int argc, char** argv, const std::string& workdir, const app::Settings& settings)
{
    QApplication qapp(argc, argv);
    // The window lives on in the tray: closing the dialog or hiding the window ends nothing.
    QApplication::setQuitOnLastWindowClosed(false);
    platform::QtMainThread mainThread;
    std::unique_ptr<app::StatusWindow> form;
    if (!app::startGateway([&] {
            form = std::make_unique<app::StatusWindow>(app::gatewayOptions(workdir, settings),
                                                       &QSystemTrayIcon::isSystemTrayAvailable);
        }))
        return app::kExitStartFailed;
    if (!form->gateway().listening())
        note(app::portFailure(form->gateway()) + "; the window shows the port in red");
    if (std::string failure = app::backlogFailure(form->gateway()); !failure.empty())
        note(failure + "; nothing is acknowledged until it can be written");
    else
        note(app::backlogWaiting(form->gateway()));

    app::SystemdManager manager;
    app::ServiceDuties duties(form->gateway(), manager, startMetrics(form->gateway().settings()));
    QTimer dutiesTimer;
    QObject::connect(&dutiesTimer, &QTimer::timeout, [&duties] { duties.tick(); });
    form->onEnded = [&] {
        dutiesTimer.stop();
        duties.stopping();
        // The gateway has stopped: the last sync is done.
        note(app::backlogWaiting(form->gateway()));
        QCoreApplication::quit();
    };

    // Log-off and shut-down end the gateway like a confirmed close, without asking.
    QObject::connect(&qapp, &QGuiApplication::commitDataRequest, form.get(),
                     [&form](QSessionManager&) { form->endWithoutAsking(); });
    QTimer signalWatch;
    QObject::connect(&signalWatch, &QTimer::timeout, [&] {
        if (!platform::stopSignal())
            return;
        signalWatch.stop();
        form->endWithoutAsking();
    });
    signalWatch.start(20);

    form->show();
    duties.ready();
    dutiesTimer.start(static_cast<int>(duties.tickInterval().count()));
    return qapp.exec();
}

} // namespace

int main(int argc, char** argv)
{
    app::CommandLine cmd = app::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (std::optional<int> answered = app::answerWithoutRunning(cmd))
        return *answered;
    if (cmd.service) {
        note("--service runs the gateway under the Windows service control manager; under "
             "systemd use --headless (see --help)");
        return app::kExitUsage;
    }
    std::string workdir = app::prepareToRun(cmd.workdir);
    if (workdir.empty())
        return app::kExitStartFailed;
    const app::Settings settings = app::readSettings(workdir);

    if (!cmd.headless) {
        if (platform::displayAvailable())
            return runWindow(argc, argv, workdir, settings);
        note("no display available, running headless");
    }
    return runHeadless(workdir, settings);
}
