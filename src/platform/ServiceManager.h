#pragma once

#include <functional>
#include <string>
#include <vector>

// The system's service manager, for the headless guard. Windows: the Service Control Manager.
// Linux has its own way (the systemd unit in dist/); there these calls raise EOSError.
namespace ostrel::platform {

// The name the guard is registered under.
inline constexpr const char* ServiceName = "RDP-Ostrel";
// The option the service manager starts the executable with, so that it knows it runs as the service.
inline constexpr const char* AsServiceOption = "--as-service";

// Registers this executable as a service that starts with the system under the local system
// account, its command line `arguments` after AsServiceOption. Raises EOSError with the
// system's text (for example without administrator rights, or when it is registered already).
void installService(const std::vector<std::string>& arguments);

// Stops the service when it runs, waits for it to end, and removes its registration. Raises
// EOSError with the system's text.
void uninstallService();

// Runs `run` as the service the service manager started: reports it running, hands a stop or a
// system shutdown to `onStop` (from the manager's thread), and reports it stopped with the
// exit code `run` returns, which is returned here too. Raises EOSError when the process was not
// started by the service manager.
int runAsService(const std::function<int()>& run, const std::function<void()>& onStop);

} // namespace ostrel::platform
