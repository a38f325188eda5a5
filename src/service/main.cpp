// rdp-ostrel-service: the guard without a window, for a service manager, cron or a terminal.
#include "common/LogLine.h"
#include "platform/platform.h"
#include "service/ServiceOptions.h"
#include "service/ServiceRun.h"
#include "service/StopRequest.h"

#include <iostream>
#include <string>
#include <vector>

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
    ostrel::useRegionalFormats();
    ostrel::StopRequest stop;
    // Watching from the start: a stop asked for during start-up ends the service right after it.
    const auto stopSignals = platform::watchStopSignals([&stop] { stop.request(); });
    return ostrel::runService(options, stop, std::cout, std::cerr);
}
