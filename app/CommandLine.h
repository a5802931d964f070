// app/CommandLine.h: gpsbridge's command line.
#pragma once

#include <string>
#include <vector>

namespace app {

// How gpsbridge ends; the service manager and scripts read these.
enum ExitStatus
{
    kExitStopped = 0,        // stopped in order (or --check-config found nothing wrong)
    kExitConfigProblems = 1, // --check-config found a problem
    kExitUsage = 2,          // bad command line
    kExitPortClosed = 3,     // headless, and the tracker port could not be opened
    kExitStartFailed = 4     // working directory or backlog store not usable
};

struct CommandLine
{
    bool headless = false;
    bool service = false; // Windows: run under the service control manager
    bool checkConfig = false;
    bool help = false;
    bool version = false;
    std::string workdir; // as given; empty: the current directory
    std::string error;   // empty when the command line was fine
};

// Reads the arguments after the program name. --workdir takes the next argument or the text
// after "=".
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The --help text, for the system it was built for.
std::string usageText();

// The working directory to use: dir made absolute against current; "~" or a leading "~/" is
// taken from home (a desktop entry cannot ask a shell to expand it). Empty dir: current.
std::string resolveWorkdir(const std::string& dir, const std::string& current,
                           const std::string& home);

// Why dir cannot be had as the working directory, without making anything: it is not a
// directory, or one this process may not enter, or it is missing below something that is not a
// directory, or below one it may not enter; the system's reason, or "not a directory". Empty when
// it is usable, or missing and can be made (as far as can be told without trying). Never throws.
std::string workdirProblem(const std::string& dir);

// Makes dir and its parents when missing; created tells whether it had to. The reason when it
// cannot be used as a directory, empty when it can. Never throws.
std::string createWorkdir(const std::string& dir, bool* created);

} // namespace app
