#include "ctl/CtlOptions.h"

#include "settings/SettingRanges.h"

#include <charconv>
#include <string_view>

namespace ostrel {
namespace {

struct CommandName {
    std::string_view name;
    CtlOptions::Command command;
};
constexpr CommandName Commands[] = {
    {"list", CtlOptions::Command::List},   {"unblock", CtlOptions::Command::Unblock},
    {"block", CtlOptions::Command::Block}, {"check", CtlOptions::Command::Check},
    {"--help", CtlOptions::Command::Help}, {"-h", CtlOptions::Command::Help},
    {"help", CtlOptions::Command::Help},   {"--version", CtlOptions::Command::Version},
};

std::string valueOf(const std::vector<std::string>& arguments, std::size_t& i, const std::string& name) {
    if (i + 1 >= arguments.size() || arguments[i + 1].empty())
        throw CtlUsageError(name + " needs a value");
    return arguments[++i];
}

void checkMinutes(const std::string& text) {
    const SettingRange& range = BlockInvalidUserIntervalRange;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < range.minimum ||
        value > range.maximum)
        throw CtlUsageError("--minutes takes a whole number from " + std::to_string(range.minimum) + " to " +
                            std::to_string(range.maximum) + ", not '" + text + "'");
}

} // namespace

CtlOptions parseCtlOptions(const std::vector<std::string>& arguments, const std::filesystem::path& defaultFolder,
                           const std::filesystem::path& installedConfig) {
    CtlOptions options;
    std::vector<std::string> operands;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        std::vector<std::string> split; // "--name=value" stands for "--name value"
        if (const auto equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
            split = {argument.substr(0, equals), argument.substr(equals + 1)};
            argument = split[0];
        }
        const auto value = [&] {
            if (!split.empty()) {
                if (split[1].empty())
                    throw CtlUsageError(argument + " needs a value");
                return split[1];
            }
            return valueOf(arguments, i, argument);
        };
        if (argument == "--config")
            options.configFile = value();
        else if (argument == "--eventlog") {
            options.eventlog = value();
            options.eventlogGiven = true;
        } else if (argument == "--minutes") {
            options.minutes = value();
            checkMinutes(*options.minutes);
        } else if (argument == "--json")
            options.json = true;
        else if (options.command == CtlOptions::Command::None || argument.starts_with("-")) {
            CtlOptions::Command command = CtlOptions::Command::None;
            for (const CommandName& name : Commands)
                if (name.name == argument)
                    command = name.command;
            if (command == CtlOptions::Command::None)
                throw CtlUsageError(argument.starts_with("-") ? "unknown option " + argument
                                                              : "unknown command '" + argument + "'");
            if (options.command != CtlOptions::Command::None && command != CtlOptions::Command::Help &&
                command != CtlOptions::Command::Version)
                throw CtlUsageError("one command at a time");
            if (options.command == CtlOptions::Command::None || command == CtlOptions::Command::Help ||
                command == CtlOptions::Command::Version)
                options.command = command;
        } else
            operands.push_back(argument);
    }
    using Command = CtlOptions::Command;
    switch (options.command) {
    case Command::None:
        throw CtlUsageError("a command is needed: list, unblock, block or check");
    case Command::Unblock:
    case Command::Block:
        if (operands.size() != 1)
            throw CtlUsageError(std::string(options.command == Command::Block ? "block" : "unblock") +
                                " takes one address");
        options.address = operands[0];
        break;
    default:
        if (!operands.empty())
            throw CtlUsageError("unexpected argument '" + operands[0] + "'");
    }
    if (options.json && options.command != Command::List)
        throw CtlUsageError("--json goes with list");
    if (options.minutes && options.command != Command::Block)
        throw CtlUsageError("--minutes goes with block");

    if (options.configFile.empty()) {
        std::error_code ignored;
        const auto nextToProgram = defaultFolder / "Config.ini";
        options.configFile = std::filesystem::exists(nextToProgram, ignored) || installedConfig.empty()
                                 ? nextToProgram
                                 : installedConfig;
    }
    if (options.eventlog.empty())
        options.eventlog = defaultFolder / "Eventlog";
    return options;
}

std::string ctlUsage() {
    return "Usage: rdp-ostrel-ctl [--config FILE] [--eventlog DIR] COMMAND\n"
           "Looks at and changes the blocks of the guard from the command line, through the same\n"
           "block and release as the guard itself, with the settings of its Config.ini (never\n"
           "rewritten here).\n"
           "\n"
           "Commands:\n"
           "  list [--json]        the active blocks: address, reason, since, until, the block's number\n"
           "                       in the address's history, and whether this machine's firewall holds it\n"
           "  unblock ADDRESS      end the address's block now: the row goes to the history, the rule\n"
           "                       here goes at once, guards sharing the table prefix follow at their\n"
           "                       next pass\n"
           "  block ADDRESS [--minutes N]\n"
           "                       block by hand (reason \"Manual-Block\") for N minutes times the block's\n"
           "                       number, 0 to 1440, 0 without end (default: the configured block time);\n"
           "                       refuses what the guard refuses: loopback, this machine's own addresses,\n"
           "                       the allow list, what is no address\n"
           "  check                check the set-up, one line per check: settings file readable and\n"
           "                       complete, values in range, database reachable, its five tables present\n"
           "                       and transactional, event source readable, firewall usable\n"
           "  --version            the version\n"
           "  --help               this text\n"
           "\n"
           "Options:\n"
           "  --config FILE        settings file (default: Config.ini next to the executable, else\n"
           "                       /etc/rdp-ostrel/Config.ini)\n"
           "  --eventlog DIR       event channel folder for check (default: Eventlog next to the executable)\n"
           "\n"
           "Exit status:\n"
           "  0  done; check: every check passed\n"
           "  1  failed: settings, database or firewall error (the reason on standard error);\n"
           "     check: a check failed\n"
           "  2  a command line it cannot use\n"
           "  3  block: the address is refused\n"
           "  4  unblock: the address has no active block\n";
}

} // namespace ostrel
