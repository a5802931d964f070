// app/WindowsMain.cpp: gpsbridge.exe, the gateway on Windows: in a console, or as a service under
// the service control manager. No window and no metrics endpoint there.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/HeadlessRun.h"
#include "app/StartUp.h"
#include "platform/Files.h"
#include "platform/ServiceHost.h"

namespace {

using app::note;

// The name the service runs under; the one sc.exe creates it with may differ, as a process of
// its own runs only the one service.
constexpr const char* kServiceName = "gpsbridge";

// The service control manager as the service manager: readiness and stopping are the service's
// states. A status line and a watchdog have no counterpart there.
class ServiceControlManager final : public app::ServiceManager
{
public:
    void notify(const std::string& state) override
    {
        if (state == "READY=1")
            platform::reportServiceState(platform::ServiceState::Running);
        else if (state == "STOPPING=1")
            platform::reportServiceState(platform::ServiceState::Stopping);
    }
    std::optional<std::chrono::microseconds> watchdogInterval() const override
    {
        return std::nullopt;
    }
};

// Started from a console: nobody to tell.
class NoServiceManager final : public app::ServiceManager
{
public:
    void notify(const std::string&) override {}
    std::optional<std::chrono::microseconds> watchdogInterval() const override
    {
        return std::nullopt;
    }
};

int runGateway(const std::string& workdir, app::ServiceManager& manager)
{
    app::HeadlessOptions options;
    options.workdir = workdir;
    options.settings = app::readSettings(workdir);
    options.manager = &manager;
    return app::runHeadless(options);
}

// The service's thread. Its output goes to log\service.log in the working directory: a service
// has no console. A working directory or log file that cannot be had leaves only the exit code
// (sc query).
int runService(const std::string& givenWorkdir)
{
    const std::string workdir = app::resolvedWorkdir(givenWorkdir);
    bool created = false;
    if (!app::createWorkdir(workdir, &created).empty())
        return app::kExitStartFailed;
    const std::string logDir = platform::joinPath(workdir, "log");
    platform::createDirectory(logDir);
    std::string failure;
    std::FILE* log = platform::openOutputFile(platform::joinPath(logDir, "service.log"), &failure);
    if (log == nullptr)
        return app::kExitStartFailed;
    app::sendOutputTo(log);
    if (created)
        note("created working directory " + workdir);
    note("working directory " + workdir);
    ServiceControlManager manager;
    return runGateway(workdir, manager);
}

} // namespace

int main(int argc, char** argv)
{
    app::CommandLine cmd = app::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (std::optional<int> answered = app::answerWithoutRunning(cmd))
        return *answered;
    if (cmd.service) {
        // The manager starts a service in the system folder, which is no place for the backlog.
        if (cmd.workdir.empty()) {
            note("--service needs --workdir (see --help)");
            return app::kExitUsage;
        }
        // No console handler: a service that took the console's log-off event for a stop would
        // end whenever a user logs off. The manager's stop request raises the stop signal.
        std::string failure;
        std::optional<int> status = platform::runAsService(
            kServiceName, [&cmd] { return runService(cmd.workdir); }, &failure);
        if (!status) {
            note("cannot run as a service: " + failure +
                 " (create it with sc.exe and start it with sc start; see README.txt)");
            return app::kExitStartFailed;
        }
        return *status;
    }

    std::string workdir = app::prepareToRun(cmd.workdir);
    if (workdir.empty())
        return app::kExitStartFailed;
    NoServiceManager manager;
    return runGateway(workdir, manager);
}
