// tests/fakes/Process.h: starting the real programs for system tests, and stopping them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace fakes {

class Process
{
public:
    // Starts binary with args in directory; standard output and error go to the given files
    // ("" = /dev/null). running() is false when it could not be started.
    Process(const std::string& binary, const std::vector<std::string>& args,
            const std::string& directory, const std::string& stdoutFile = "",
            const std::string& stderrFile = "");
    ~Process(); // kills it if still running

    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool running() const { return m_pid > 0 && !m_status; }
    pid_t pid() const { return m_pid; }

    // Sends SIGTERM and waits up to limit. The time it took when it exited with status 0.
    std::optional<std::chrono::milliseconds> terminate(std::chrono::milliseconds limit);

    // Sends SIGTERM and waits up to limit; true when it ended, however.
    bool stop(std::chrono::milliseconds limit);

    // Kills it with SIGKILL, as a crash or a power switch would, and reaps it.
    void kill();

    // Waits up to limit for it to end by itself; its exit status, or nothing.
    std::optional<int> wait(std::chrono::milliseconds limit);

private:
    pid_t m_pid = 0;
    std::optional<int> m_status; // raw wait status once reaped
};

} // namespace fakes
