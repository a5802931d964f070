// platform/ServiceHost.h: running as a Windows service under the service control manager.
// Windows only.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace platform {

enum class ServiceState
{
    Starting, // told at once; the manager waits up to 30 s for Running
    Running,  // stop and shutdown requests are taken from now on
    Stopping  // the manager waits up to 30 s for the end
};

// Main thread. Hands the process to the service control manager, which runs body on a thread of
// its own as the service `name`; returns body's exit status once body has returned and the
// manager has been told the service stopped (a non-zero status as the service's own exit code).
// A stop or shutdown request raises the stop signal (platform/StopSignal.h).
// Nothing, with the reason in *failure, when the process was not started by the manager.
std::optional<int> runAsService(const std::string& name, std::function<int()> body,
                                std::string* failure);

// The service's thread, while runAsService runs.
void reportServiceState(ServiceState state);

// The file at path opened for appending, unbuffered: for a service's output, which has no
// console (its standard streams cannot even be reopened). Null, with the system's reason in
// *failure, when it cannot be opened. Stays open for the rest of the process.
std::FILE* openOutputFile(const std::string& path, std::string* failure);

} // namespace platform
