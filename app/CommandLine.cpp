// app/CommandLine.cpp
#include "app/CommandLine.h"

#include <filesystem>

namespace app {

CommandLine parseCommandLine(const std::vector<std::string>& args)
{
    CommandLine c;
    for (std::size_t i = 0; i < args.size() && c.error.empty(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help")
            c.help = true;
        else if (a == "-V" || a == "--version")
            c.version = true;
        else if (a == "--headless")
            c.headless = true;
        else if (a == "--service")
            c.service = true;
        else if (a == "--check-config")
            c.checkConfig = true;
        else if (a == "--workdir" || a.rfind("--workdir=", 0) == 0) {
            if (a != "--workdir")
                c.workdir = a.substr(10);
            else if (i + 1 < args.size())
                c.workdir = args[++i];
            if (c.workdir.empty())
                c.error = "--workdir needs a directory";
        } else
            c.error = "unknown option " + a;
    }
    return c;
}

#ifdef _WIN32
std::string usageText()
{
    return R"(usage: gpsbridge [--headless] [--service] [--workdir DIR] [--check-config] [-h|--help]
                 [-V|--version]

Gateway between GPS trackers and the message server. It reads gpsbridge.ini in its working
directory and writes its day logs (dd.MM.yyyy.log) and its backlog (dd8\) beside it.
On Windows it has no status window and no metrics endpoint (MetricsAddress is not used).

  --headless      run in the console: link events are printed on standard output, notes
                  and problems on standard error; Ctrl-C, Ctrl-Break or closing the console
                  stop it in order (also the default without options)
  --service       run as a Windows service, started by the service control manager (see
                  README.txt for sc.exe); its stop and the system's shutdown stop it in order.
                  Output goes to log\service.log in the working directory
  --workdir DIR   the working directory (default: the current one); created when missing
  --check-config  read the settings, print what each key resolves to, every value that does
                  not parse or is out of range and every section or key that is not read
                  (with the nearest known name), and exit: 0 when all is well, 1 when not
  -h, --help      show this text
  -V, --version   show the version

Exit status: 0 after an orderly stop, 1 when --check-config found a problem, 2 on a bad
command line, 3 when the tracker port could not be opened, 4 when the gateway could not start
(working directory, backlog store).
)";
}
#else
std::string usageText()
{
    return R"(usage: gpsbridge [--headless] [--workdir DIR] [--check-config] [-h|--help] [-V|--version]

Gateway between GPS trackers and the message server. It reads gpsbridge.ini in its working
directory and writes its day logs (dd.MM.yyyy.log) and its backlog (dd8/) beside it.

  --headless      run without a window (also when no display is available); link events
                  are printed on standard output, notes and problems on standard error;
                  SIGINT, SIGTERM or SIGHUP stop it in order
  --workdir DIR   the working directory (default: the current one); created when missing;
                  a leading ~/ stands for the home directory
  --check-config  read the settings, print what each key resolves to, every value that does
                  not parse or is out of range and every section or key that is not read
                  (with the nearest known name), and exit: 0 when all is well, 1 when not
  --service       Windows only (the Windows service); under systemd use --headless
  -h, --help      show this text
  -V, --version   show the version

With a display it shows the status window, which minimises to the tray and closes only with
the password it shows; SIGINT, SIGTERM, SIGHUP and the end of the desktop session stop it
without asking.

Exit status: 0 after an orderly stop, 1 when --check-config found a problem, 2 on a bad
command line, 3 when the tracker port could not be opened (headless), 4 when the gateway
could not start (working directory, backlog store).
)";
}
#endif

std::string resolveWorkdir(const std::string& dir, const std::string& current,
                           const std::string& home)
{
    namespace fs = std::filesystem;
    if (dir.empty())
        return current;
    fs::path p;
    if (dir == "~")
        p = home;
    else if (dir.rfind("~/", 0) == 0)
        p = fs::path(home) / dir.substr(2);
    else
        p = dir;
    if (p.is_relative())
        p = fs::path(current) / p;
    std::string out = p.lexically_normal().string();
    if (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

std::string workdirProblem(const std::string& dir)
{
    namespace fs = std::filesystem;
    // Only the calls that give an error code: the throwing ones end the process on a directory
    // it may not look into.
    std::error_code ec;
    const fs::path path(dir);
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        // Missing: it can be made when its nearest existing parent is a directory to make it in.
        const fs::path parent = path.parent_path();
        return parent.empty() || parent == path ? std::string() : workdirProblem(parent.string());
    }
    if (ec)
        return ec.message();
    if (!fs::is_directory(status))
        return "not a directory";
    // A directory it may see but not enter (no search permission) is of no use either.
    if (fs::status(path / ".", ec).type() == fs::file_type::directory)
        return {};
    return ec ? ec.message() : "cannot be entered";
}

std::string createWorkdir(const std::string& dir, bool* created)
{
    std::error_code ec;
    *created = std::filesystem::create_directories(dir, ec);
    // What is in the way says more than the failed call's error: "not a directory", or the
    // parent that cannot be entered.
    std::string problem = workdirProblem(dir);
    return problem.empty() && ec ? ec.message() : problem;
}

} // namespace app
