#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel {

// What the command line of rdp-ostrel-service asks for.
struct ServiceOptions {
    std::filesystem::path configFile;    // Config.ini
    std::filesystem::path eventlog;      // the event channel folder
    bool eventlogGiven = false;          // --eventlog given: the channel file even where an event log exists (Windows)
    std::optional<std::string> source;   // --source: where failed logons are read, over the setting EventSource
    std::optional<std::string> interval; // seconds between passes; the settings' default when absent
    std::optional<int> honeypotPort;
    bool once = false;
    bool debug = false;
    bool detailLog = false;
    bool help = false;
    bool version = false;
    bool installService = false;   // register with the Windows service manager, then end
    bool uninstallService = false; // stop and remove the registration, then end
    bool asService = false;        // started by the Windows service manager
};

// A command line that cannot be carried out; the message says what is wrong with it.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The lowest and highest pass interval and honeypot port the options take.
inline constexpr int MinimumInterval = 1;
inline constexpr int MaximumInterval = 120;
inline constexpr int MinimumHoneypotPort = 3300;
inline constexpr int MaximumHoneypotPort = 3400;

// Reads the arguments after the program name. Paths left out are the defaults next to
// the executable (`defaultFolder`). Raises UsageError.
ServiceOptions parseServiceOptions(const std::vector<std::string>& arguments,
                                   const std::filesystem::path& defaultFolder);

// The options a service registered with these options is started with (without the one that
// tells it runs as a service), paths absolute.
std::vector<std::string> serviceArgumentsOf(const ServiceOptions& options);

// The --help text.
std::string serviceUsage();

} // namespace ostrel
