// platform/win/ServiceHost.cpp: the service control manager's side of the service: the
// dispatcher, the service's main function, its control handler and its status.
#include "platform/ServiceHost.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/StopSignal.h"
#include "platform/win/WideText.h"

namespace platform {

namespace {

// How long the manager is to wait for the next report while starting or stopping: start-up
// calibrates the clock and lets the listener settle (a few seconds); a stop waits for the
// message server's last reply (up to 5 s) and syncs the backlog.
constexpr DWORD kPendingWaitMs = 30000;

std::wstring g_name;
std::function<int()> g_body;
int g_exitStatus = 0;

std::mutex g_statusMutex;
SERVICE_STATUS_HANDLE g_handle = nullptr; // guarded by g_statusMutex
SERVICE_STATUS g_status{};                // guarded by g_statusMutex

void setStatus(DWORD state, int exitStatus = 0)
{
    std::lock_guard<std::mutex> lock(g_statusMutex);
    if (g_handle == nullptr)
        return;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_status.dwWin32ExitCode = exitStatus == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    g_status.dwServiceSpecificExitCode = static_cast<DWORD>(exitStatus);
    g_status.dwCheckPoint = pending ? g_status.dwCheckPoint + 1 : 0;
    g_status.dwWaitHint = pending ? kPendingWaitMs : 0;
    ::SetServiceStatus(g_handle, &g_status);
}

// Runs on the dispatcher's thread (the process's main thread).
DWORD WINAPI onControl(DWORD control, DWORD, void*, void*)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        setStatus(SERVICE_STOP_PENDING);
        raiseStopSignal();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// Runs on a thread the dispatcher starts; the service ends when this returns after STOPPED.
void WINAPI serviceMain(DWORD, LPWSTR*)
{
    SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerExW(g_name.c_str(), onControl,
                                                                   nullptr);
    if (handle == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(g_statusMutex);
        g_handle = handle;
    }
    setStatus(SERVICE_START_PENDING);
    g_exitStatus = g_body();
    setStatus(SERVICE_STOPPED, g_exitStatus);
}

} // namespace

std::optional<int> runAsService(const std::string& name, std::function<int()> body,
                                std::string* failure)
{
    g_name = win::widen(name);
    g_body = std::move(body);
    SERVICE_TABLE_ENTRYW table[] = {{g_name.data(), serviceMain}, {nullptr, nullptr}};
    if (!::StartServiceCtrlDispatcherW(table)) {
        const DWORD error = ::GetLastError();
        *failure = error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                       ? "not started by the service control manager"
                       : win::systemMessage(error);
        return std::nullopt;
    }
    return g_exitStatus;
}

void reportServiceState(ServiceState state)
{
    switch (state) {
    case ServiceState::Starting:
        setStatus(SERVICE_START_PENDING);
        break;
    case ServiceState::Running:
        setStatus(SERVICE_RUNNING);
        break;
    case ServiceState::Stopping:
        setStatus(SERVICE_STOP_PENDING);
        break;
    }
}

std::FILE* openOutputFile(const std::string& path, std::string* failure)
{
    std::FILE* file = ::_wfopen(win::widen(path).c_str(), L"a");
    if (file == nullptr) {
        *failure = std::strerror(errno);
        return nullptr;
    }
    // Each line reaches the file as it is written, as it reaches a console (the C library here
    // takes line buffering for full buffering).
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

} // namespace platform
