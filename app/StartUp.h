// app/StartUp.h: the steps every way of running the gateway shares before and around its start:
// the working directory, the settings read once, and the notes on standard error.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "app/CommandLine.h"
#include "app/ConfigCheck.h"
#include "app/Gateway.h"

namespace app {

// One line on standard error, or the output file: "gpsbridge: <line>" (the journal under
// systemd).
void note(const std::string& line);

// Main thread, before the gateway starts. Notes and the headless run's event lines go to file
// from now on instead of standard error and standard output (a Windows service's log file); file
// stays open for the rest of the process.
void sendOutputTo(std::FILE* file);

// Where the headless run prints its event lines: standard output, or that file.
std::FILE* eventOutput();

// --check-config: the report on standard output; returns the exit status. A working directory
// that a start could not use is said on standard error instead (kExitStartFailed).
int checkConfig(const std::string& workdir);

// The settings, read once for the whole run, with start-up's notes on them: the file when it
// was not read, and every value that fell back to its default or does not do what it says.
Settings readSettings(const std::string& workdir);

// The shipped gateway's options for that directory, with the settings read at start.
GatewayOptions gatewayOptions(const std::string& workdir, const Settings& settings);

// "cannot open tracker port 21000 on 0.0.0.0 (<reason>)".
std::string portFailure(Gateway& gateway);

// After start: "backlog: cannot use /var/lib/gpsbridge/dd8 (<reason>)"; empty while the backlog
// is open and writable.
std::string backlogFailure(const Gateway& gateway);

// After start, once the backlog is open, and after the stop: "backlog: 1234 messages waiting in
// dd8/".
std::string backlogWaiting(Gateway& gateway);

// Runs start-up; false, with the reason on standard error, when it threw.
bool startGateway(const std::function<void()>& start);

// What the command line is answered with before any gateway runs: its error, --help,
// --version or --check-config, and the exit status; nothing when the gateway is to run.
std::optional<int> answerWithoutRunning(const CommandLine& cmd);

// The working directory as given (empty: the current one), made absolute.
std::string resolvedWorkdir(const std::string& given);

// Readies the process to run the gateway: the working directory, created when missing and
// named on the output, the stop signals and the open-file limit. Empty, with the reason noted,
// when the working directory cannot be had.
std::string prepareToRun(const std::string& givenWorkdir);

} // namespace app
