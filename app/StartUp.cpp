// app/StartUp.cpp
#include "app/StartUp.h"

#include <cstdio>
#include <exception>

#include "app/CommandLine.h"
#include "link/FrameFormat.h"
#include "platform/Files.h"
#include "platform/Socket.h"
#include "platform/StopSignal.h"

namespace app {

namespace {

std::FILE* g_notes = stderr;
std::FILE* g_events = stdout;

} // namespace

void note(const std::string& line)
{
    std::fprintf(g_notes, "gpsbridge: %s\n", line.c_str());
}

void sendOutputTo(std::FILE* file)
{
    g_notes = file;
    g_events = file;
}

std::FILE* eventOutput()
{
    return g_events;
}

int checkConfig(const std::string& workdir)
{
    // The check makes nothing; a directory that a start could not use is said as the start
    // would say it.
    std::string problem;
    try {
        problem = workdirProblem(workdir);
        if (problem.empty()) {
            const Settings settings = loadSettings(workdir);
            std::fputs(checkReport(settings.file, settings.check).c_str(), stdout);
            return checkExitStatus(settings.file, settings.check);
        }
    } catch (const std::exception& e) {
        problem = e.what();
    }
    note("cannot use working directory " + workdir + " (" + problem + ")");
    return kExitStartFailed;
}

Settings readSettings(const std::string& workdir)
{
    Settings settings = loadSettings(workdir);
    for (const std::string& line : startUpNotes(settings.file, settings.check))
        note(line);
    return settings;
}

GatewayOptions gatewayOptions(const std::string& workdir, const Settings& settings)
{
    GatewayOptions options = shippedGatewayOptions(workdir);
    options.settings = settings;
    return options;
}

std::string portFailure(Gateway& gateway)
{
    return "cannot open tracker port " + std::to_string(gateway.settings().port) + " on 0.0.0.0 (" +
           gateway.listener().openFailure() + ")";
}

std::string backlogFailure(const Gateway& gateway)
{
    const std::string problem = gateway.backlogProblem();
    if (problem.empty())
        return {};
    return "backlog: cannot use " + gateway.workingDirectory() + "/dd8 (" + problem + ")";
}

std::string backlogWaiting(Gateway& gateway)
{
    const std::int64_t waiting = gateway.outbox().depth();
    return "backlog: " + std::to_string(waiting) + (waiting == 1 ? " message" : " messages") +
           " waiting in dd8/";
}

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

std::string resolvedWorkdir(const std::string& given)
{
    return resolveWorkdir(given, platform::currentDirectory(), platform::homeDirectory());
}

std::string prepareToRun(const std::string& givenWorkdir)
{
    std::string dir = resolvedWorkdir(givenWorkdir);
    bool created = false;
    std::string problem;
    try {
        problem = createWorkdir(dir, &created);
    } catch (const std::exception& e) { // out of memory, or a path the system will not take
        problem = e.what();
    }
    if (!problem.empty()) {
        note("cannot use working directory " + dir + " (" + problem + ")");
        return {};
    }
    if (created)
        note("created working directory " + dir);
    platform::installStopSignals();
    platform::raiseOpenFileLimit();
    note("working directory " + dir);
    return dir;
}

std::optional<int> answerWithoutRunning(const CommandLine& cmd)
{
    if (!cmd.error.empty()) {
        note(cmd.error + " (see --help)");
        return kExitUsage;
    }
    if (cmd.help) {
        std::fputs(usageText().c_str(), stdout);
        return kExitStopped;
    }
    if (cmd.version) {
        std::printf("gpsbridge %.*s\n", static_cast<int>(msglink::kFileVersion.size()),
                    msglink::kFileVersion.data());
        return kExitStopped;
    }
    if (cmd.checkConfig)
        return checkConfig(resolvedWorkdir(cmd.workdir));
    return std::nullopt;
}

} // namespace app
