#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel {

// What the command line of rdp-ostrel-ctl asks for.
struct CtlOptions {
    enum class Command { None, List, Unblock, Block, Check, Help, Version };
    Command command = Command::None;
    std::filesystem::path configFile; // Config.ini, as the service reads it
    std::filesystem::path eventlog;   // the event channel folder
    bool eventlogGiven = false;
    bool json = false;                  // list: JSON for scripts
    std::string address;                // unblock, block
    std::optional<std::string> minutes; // block: minutes; the settings' block time when absent
};

// The exit status of every command, as --help lists them.
enum CtlExit : int {
    ExitDone = 0,       // done; check: every check passed
    ExitFailed = 1,     // a settings, database or firewall error; check: a check failed
    ExitUsage = 2,      // a command line it cannot use
    ExitRefused = 3,    // block: the guard refuses to block the address
    ExitNotBlocked = 4, // unblock: the address has no active block
};

// A command line that cannot be carried out; the message says what is wrong with it.
class CtlUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the arguments after the program name. Config.ini defaults to the one next to the
// executable (`defaultFolder`) when it is there, else to `installedConfig`. Raises CtlUsageError.
CtlOptions parseCtlOptions(const std::vector<std::string>& arguments, const std::filesystem::path& defaultFolder,
                           const std::filesystem::path& installedConfig);

// The --help text.
std::string ctlUsage();

} // namespace ostrel
