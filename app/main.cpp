// app/main.cpp: gpsbridge entry point.
#include <QApplication>
#include <QCoreApplication>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/ConfigCheck.h"
#include "app/DayLogRetention.h"
#include "app/EventPrinter.h"
#include "app/Gateway.h"
#include "app/Housekeeping.h"
#include "app/MetricsExporter.h"
#include "app/StatusView.h"
#include "app/SystemdManager.h"
#include "app/StatusWindow.h"
#include "link/FrameFormat.h"
#include "platform/Desktop.h"
#include "platform/Files.h"
#include "platform/Socket.h"
#include "platform/StopSignal.h"

namespace {

// Notes and problems go to standard error, one line each (the journal under systemd).
void note(const std::string& line)
{
    std::fprintf(stderr, "gpsbridge: %s\n", line.c_str());
}

int checkConfig(const std::string& workdir)
{
    const app::Settings settings = app::loadSettings(workdir);
    std::fputs(app::checkReport(settings.file, settings.check).c_str(), stdout);
    return app::checkExitStatus(settings.file, settings.check);
}

// The settings, read once for the whole run, with start-up's one word on them: the file when it
// was not read, and every value that fell back to its default or does not do what it says.
app::Settings readSettings(const std::string& workdir)
{
    app::Settings settings = app::loadSettings(workdir);
    for (const std::string& line : app::startUpNotes(settings.file, settings.check))
        note(line);
    return settings;
}

app::GatewayOptions gatewayOptions(const std::string& workdir, const app::Settings& settings)
{
    app::GatewayOptions options = app::shippedGatewayOptions(workdir);
    options.settings = settings;
    return options;
}

std::string portFailure(app::Gateway& gateway)
{
    return "cannot open tracker port " + std::to_string(gateway.settings().port) + " on 0.0.0.0 (" +
           gateway.listener().openFailure() + ")";
}

// The service manager, the metrics endpoint and day-log retention, driven by one main-thread
// timer while the gateway runs.
class ServiceDuties
{
public:
    explicit ServiceDuties(app::Gateway& gateway)
    {
        const app::MainSettings& settings = gateway.settings();
        if (!settings.metricsAddress.empty()) {
            try {
                m_metrics = std::make_unique<app::MetricsExporter>(settings.metricsAddress);
                note("metrics at http://" + settings.metricsAddress + "/metrics");
            } catch (const std::exception& e) {
                note("metrics: cannot serve on " + settings.metricsAddress + " (" + e.what() +
                     "); running without them");
            }
        }
        if (settings.keepDayLogs > 0)
            m_retention = std::make_unique<app::DayLogRetention>(gateway.listener().dayLog(),
                                                                 settings.keepDayLogs, note);

        app::HousekeepingSources sources;
        sources.figures = [&gateway] { return gateway.figures(); };
        sources.dispatcherTicks = [&gateway] { return gateway.dispatcherTicks(); };
        sources.clientTurns = [&gateway]() -> std::optional<std::uint64_t> {
            if (msglink::LinkControl* c = gateway.client())
                return c->turns();
            return std::nullopt;
        };
        if (m_metrics)
            sources.publishMetrics = [this](const app::GatewayFigures& f) {
                m_metrics->publish(f);
            };
        sources.retention = m_retention.get();
        m_housekeeping = std::make_unique<app::Housekeeping>(std::move(sources), m_manager);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_housekeeping->tick(app::Housekeeping::Clock::now()); });
    }

    // Once the tracker port is open and the backlog store is usable.
    void ready()
    {
        m_manager.notify("READY=1");
        m_housekeeping->tick(app::Housekeeping::Clock::now());
        m_timer.start(static_cast<int>(m_housekeeping->tickInterval().count()));
    }

    void stopping()
    {
        m_timer.stop();
        m_manager.notify("STOPPING=1");
    }

private:
    app::SystemdManager m_manager;
    std::unique_ptr<app::MetricsExporter> m_metrics;
    std::unique_ptr<app::DayLogRetention> m_retention;
    std::unique_ptr<app::Housekeeping> m_housekeeping;
    QTimer m_timer;
};

// Runs start-up; false, with the reason on standard error, when it failed.
bool startGateway(const std::function<void()>& start)
{
    try {
        start();
        return true;
    } catch (const std::exception& e) {
        note(std::string("cannot start: ") + e.what());
    }
    return false;
}

int runHeadless(int argc, char** argv, const std::string& workdir, const app::Settings& settings)
{
    QCoreApplication qapp(argc, argv);
    app::StatusView view;
    // Declared before the gateway: the client still reports while the gateway stops.
    app::EventPrinter printer(stdout, note);
    view.onEventAppended = [&printer](const std::string& line) { printer.print(line); };
    app::Gateway gateway(view, gatewayOptions(workdir, settings));
    if (!startGateway([&] { gateway.start(); }))
        return app::kExitStartFailed;
    if (std::string problem = gateway.backlogProblem(); !problem.empty()) {
        // Nothing could be acknowledged without a backlog to keep it in.
        note("cannot use the backlog in " + gateway.workingDirectory() + "/dd8 (" + problem +
             "); stopping");
        gateway.stop();
        return app::kExitStartFailed;
    }

    if (!gateway.listening()) {
        // Without its port the gateway is of no use to anyone; ending lets the service manager
        // restart it until the port is free. The client is stopped in order first.
        note(portFailure(gateway) + "; stopping");
        app::SystemdManager().notify("STATUS=" + portFailure(gateway));
        gateway.stop();
        return app::kExitPortClosed;
    }
    note("listening on tracker port " + std::to_string(gateway.listener().boundPort()));
    ServiceDuties duties(gateway);

    QTimer dispatchTimer;
    QObject::connect(&dispatchTimer, &QTimer::timeout, [&gateway] { gateway.dispatchTick(); });
    dispatchTimer.start(10);

    QTimer signalWatch;
    QObject::connect(&signalWatch, &QTimer::timeout, [&] {
        if (!platform::stopSignal())
            return;
        signalWatch.stop();
        duties.stopping();
        dispatchTimer.stop();
        gateway.stop();
        if (gateway.unkeptAtStop() > 0)
            note(std::to_string(gateway.unkeptAtStop()) +
                 " messages and packets could not be kept by the backlog before the stop; none "
                 "of them was acknowledged, the trackers send them again");
        qapp.quit();
    });
    signalWatch.start(20);
    duties.ready();
    return qapp.exec();
}

int runWindow(int argc, char** argv, const std::string& workdir, const app::Settings& settings)
{
    QApplication qapp(argc, argv);
    // The window lives on in the tray: closing the dialog or hiding the window ends nothing.
    QApplication::setQuitOnLastWindowClosed(false);
    std::unique_ptr<app::StatusWindow> form;
    if (!startGateway([&] {
            form = std::make_unique<app::StatusWindow>(gatewayOptions(workdir, settings),
                                                       &QSystemTrayIcon::isSystemTrayAvailable);
        }))
        return app::kExitStartFailed;
    if (!form->gateway().listening())
        note(portFailure(form->gateway()) + "; the window shows the port in red");
    if (std::string problem = form->gateway().backlogProblem(); !problem.empty())
        note("cannot use the backlog in " + form->gateway().workingDirectory() + "/dd8 (" +
             problem + "); nothing is acknowledged until it can be written");

    ServiceDuties duties(form->gateway());
    form->onEnded = [&duties] {
        duties.stopping();
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
    return qapp.exec();
}

std::string resolvedWorkdir(const std::string& given)
{
    const char* home = std::getenv("HOME");
    return app::resolveWorkdir(given, platform::currentDirectory(), home ? home : "/");
}

// The working directory, created when missing; empty when it cannot be had.
std::string prepareWorkdir(const std::string& given)
{
    std::string dir = resolvedWorkdir(given);
    bool created = false;
    std::string problem = app::createWorkdir(dir, &created);
    if (!problem.empty()) {
        note("cannot use working directory " + dir + " (" + problem + ")");
        return {};
    }
    if (created)
        note("created working directory " + dir);
    return dir;
}

} // namespace

int main(int argc, char** argv)
{
    app::CommandLine cmd = app::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!cmd.error.empty()) {
        note(cmd.error + " (see --help)");
        return app::kExitUsage;
    }
    if (cmd.help) {
        std::fputs(app::usageText().c_str(), stdout);
        return app::kExitStopped;
    }
    if (cmd.version) {
        std::printf("gpsbridge %.*s\n", static_cast<int>(msglink::kFileVersion.size()),
                    msglink::kFileVersion.data());
        return app::kExitStopped;
    }
    if (cmd.checkConfig)
        return checkConfig(resolvedWorkdir(cmd.workdir));

    std::string workdir = prepareWorkdir(cmd.workdir);
    if (workdir.empty())
        return app::kExitStartFailed;
    platform::installStopSignals();
    platform::raiseOpenFileLimit();
    note("working directory " + workdir);
    const app::Settings settings = readSettings(workdir);

    if (!cmd.headless) {
        if (platform::displayAvailable())
            return runWindow(argc, argv, workdir, settings);
        note("no display available, running headless");
    }
    return runHeadless(argc, argv, workdir, settings);
}
