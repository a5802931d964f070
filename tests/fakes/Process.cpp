// tests/fakes/Process.cpp
#include "tests/fakes/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <thread>

extern char** environ;

namespace fakes {

Process::Process(const std::string& binary, const std::vector<std::string>& args,
                 const std::string& directory, const std::string& stdoutFile,
                 const std::string& stderrFile)
{
    std::vector<std::string> all{binary};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    auto redirect = [&](int fd, const std::string& file) {
        posix_spawn_file_actions_addopen(&actions, fd, file.empty() ? "/dev/null" : file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    };
    redirect(1, stdoutFile);
    redirect(2, stderrFile);
    if (posix_spawn(&m_pid, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        m_pid = 0;
    posix_spawn_file_actions_destroy(&actions);
}

Process::~Process()
{
    if (running()) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

std::optional<int> Process::wait(std::chrono::milliseconds limit)
{
    if (m_pid <= 0)
        return std::nullopt;
    auto until = std::chrono::steady_clock::now() + limit;
    while (!m_status) {
        int status = 0;
        pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_status = status;
            break;
        }
        if (std::chrono::steady_clock::now() > until)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!WIFEXITED(*m_status))
        return std::nullopt;
    return WEXITSTATUS(*m_status);
}

void Process::kill()
{
    if (!running())
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_status = status;
}

bool Process::stop(std::chrono::milliseconds limit)
{
    if (!running())
        return m_pid > 0;
    ::kill(m_pid, SIGTERM);
    wait(limit);
    return m_status.has_value();
}

std::optional<std::chrono::milliseconds> Process::terminate(std::chrono::milliseconds limit)
{
    if (!running())
        return std::nullopt;
    ::kill(m_pid, SIGTERM);
    auto sent = std::chrono::steady_clock::now();
    std::optional<int> status = wait(limit);
    if (!status || *status != 0)
        return std::nullopt;
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 sent);
}

} // namespace fakes
