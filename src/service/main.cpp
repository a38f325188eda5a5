// rdp-ostrel-service: the guard without a window, for a service manager, cron or a terminal.
#include "common/LogLine.h"
#include "platform/ServiceManager.h"
#include "platform/StopSignals.h"
#include "platform/System.h"
#include "service/ServiceOptions.h"
#include "service/ServiceRun.h"
#include "service/StopRequest.h"

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Registers or removes the Windows service; the exit status.
int changeServiceRegistration(const ostrel::ServiceOptions& options) {
    namespace platform = ostrel::platform;
    try {
        if (options.installService) {
            platform::installService(ostrel::serviceArgumentsOf(options));
            std::cout << "Service " << platform::ServiceName << " registered; it starts with the system.\n";
        } else {
            platform::uninstallService();
            std::cout << "Service " << platform::ServiceName << " stopped and removed.\n";
        }
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "rdp-ostrel-service: " << error.what() << "\n";
        return 1;
    }
}

// As a service nobody reads standard output: the log lines go to a file next to the executable.
int runAsService(const ostrel::ServiceOptions& options, ostrel::StopRequest& stop) {
    namespace platform = ostrel::platform;
    std::ofstream log(platform::executableFolder() / "rdp-ostrel-service.log", std::ios::app);
    std::ostream& out = log ? static_cast<std::ostream&>(log) : std::cout;
    try {
        return platform::runAsService([&] { return ostrel::runService(options, stop, out, out); },
                                      [&stop] { stop.request(); });
    } catch (const std::exception& error) {
        std::cerr << "rdp-ostrel-service: " << error.what() << "\n";
        return 1;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    namespace platform = ostrel::platform;
    ostrel::ServiceOptions options;
    try {
        options = ostrel::parseServiceOptions({argv + 1, argv + argc}, platform::executableFolder());
    } catch (const ostrel::UsageError& error) {
        std::cerr << "rdp-ostrel-service: " << error.what() << "\nTry 'rdp-ostrel-service --help'.\n";
        return 2;
    }
    if (options.help) {
        std::cout << ostrel::serviceUsage();
        return 0;
    }
    if (options.version) {
        std::cout << "rdp-ostrel-service " OSTREL_VERSION "\n";
        return 0;
    }
    if (options.installService || options.uninstallService)
        return changeServiceRegistration(options);
    ostrel::useRegionalFormats();
    ostrel::StopRequest stop;
    if (options.asService)
        return runAsService(options, stop);
    // Watching from the start: a stop asked for during start-up ends the service right after it.
    const auto stopSignals = platform::watchStopSignals([&stop] { stop.request(); });
    return ostrel::runService(options, stop, std::cout, std::cerr);
}
