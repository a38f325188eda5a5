#include "service/ServiceOptions.h"

#include "platform/portable/EventSourceChoice.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <utility>

namespace ostrel {
namespace {

int numberIn(std::string_view option, std::string_view text, int minimum, int maximum) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < minimum ||
        value > maximum) {
        throw UsageError(std::string(option) + " takes a whole number from " + std::to_string(minimum) + " to " +
                         std::to_string(maximum) + ", not '" + std::string(text) + "'");
    }
    return value;
}

// Walks the arguments; "--name value" and "--name=value" both give an option its value.
class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& arguments) : m_arguments(arguments) {}

    bool next() {
        if (m_index >= m_arguments.size())
            return false;
        const std::string& argument = m_arguments[m_index++];
        const auto equals = argument.find('=');
        if (argument.starts_with("--") && equals != std::string::npos) {
            m_name = argument.substr(0, equals);
            m_inlineValue = argument.substr(equals + 1);
        } else {
            m_name = argument;
            m_inlineValue.reset();
        }
        return true;
    }
    const std::string& name() const { return m_name; }

    std::string value() {
        if (m_inlineValue)
            return *std::exchange(m_inlineValue, std::nullopt);
        if (m_index >= m_arguments.size())
            throw UsageError(m_name + " needs a value");
        return m_arguments[m_index++];
    }
    // A switch given a value ("--once=yes") is a mistake worth telling.
    void noValue() const {
        if (m_inlineValue)
            throw UsageError(m_name + " takes no value");
    }

private:
    const std::vector<std::string>& m_arguments;
    std::size_t m_index = 0;
    std::string m_name;
    std::optional<std::string> m_inlineValue;
};

// The options that take no value.
struct Switch {
    std::string_view name;
    bool ServiceOptions::*flag;
};
constexpr Switch Switches[] = {
    {"--once", &ServiceOptions::once},
    {"--debug", &ServiceOptions::debug},
    {"--detail-log", &ServiceOptions::detailLog},
    {"--help", &ServiceOptions::help},
    {"-h", &ServiceOptions::help},
    {"--version", &ServiceOptions::version},
    {"--install-service", &ServiceOptions::installService},
    {"--uninstall-service", &ServiceOptions::uninstallService},
    {"--as-service", &ServiceOptions::asService},
};

bool ServiceOptions::*switchNamed(std::string_view name) {
    for (const Switch& option : Switches) {
        if (option.name == name)
            return option.flag;
    }
    return nullptr;
}

std::filesystem::path pathValue(ArgumentReader& reader) {
    std::string path = reader.value();
    if (path.empty())
        throw UsageError(reader.name() + " needs a path, not an empty text");
    return path;
}

} // namespace

ServiceOptions parseServiceOptions(const std::vector<std::string>& arguments,
                                   const std::filesystem::path& defaultFolder) {
    ServiceOptions options;
    ArgumentReader reader(arguments);
    while (reader.next()) {
        const std::string& name = reader.name();
        if (name == "--config")
            options.configFile = pathValue(reader);
        else if (name == "--eventlog") {
            options.eventlog = pathValue(reader);
            options.eventlogGiven = true;
        } else if (name == "--source") {
            std::string value = reader.value();
            if (!platform::parseEventSourceChoice(value) || value.empty())
                throw UsageError("--source takes " + std::string(platform::EventSourceChoices) + ", not '" + value +
                                 "'");
            options.source = std::move(value);
        } else if (name == "--interval")
            options.interval = std::to_string(numberIn(name, reader.value(), MinimumInterval, MaximumInterval));
        else if (name == "--honeypot")
            options.honeypotPort = numberIn(name, reader.value(), MinimumHoneypotPort, MaximumHoneypotPort);
        else if (bool ServiceOptions::*flag = switchNamed(name)) {
            reader.noValue();
            options.*flag = true;
        } else if (name.starts_with("-"))
            throw UsageError("unknown option " + name);
        else
            throw UsageError("unexpected argument '" + name + "'");
    }
    if (options.once && options.honeypotPort)
        throw UsageError("--once runs a single pass and ends; it takes no --honeypot");
    if (options.installService && options.uninstallService)
        throw UsageError("--install-service and --uninstall-service exclude each other");
    if ((options.installService || options.asService) && options.once)
        throw UsageError("a service runs until it is stopped; it takes no --once");

    if (options.configFile.empty())
        options.configFile = defaultFolder / "Config.ini";
    if (options.eventlog.empty())
        options.eventlog = defaultFolder / "Eventlog";
    return options;
}

std::vector<std::string> serviceArgumentsOf(const ServiceOptions& options) {
    // The service manager starts the service in the system folder: paths go absolute.
    std::vector<std::string> arguments{"--config", std::filesystem::absolute(options.configFile).string()};
    if (options.eventlogGiven)
        arguments.insert(arguments.end(), {"--eventlog", std::filesystem::absolute(options.eventlog).string()});
    if (options.source)
        arguments.insert(arguments.end(), {"--source", *options.source});
    if (options.interval)
        arguments.insert(arguments.end(), {"--interval", *options.interval});
    if (options.honeypotPort)
        arguments.insert(arguments.end(), {"--honeypot", std::to_string(*options.honeypotPort)});
    if (options.debug)
        arguments.push_back("--debug");
    if (options.detailLog)
        arguments.push_back("--detail-log");
    return arguments;
}

std::string serviceUsage() {
    return "Usage: rdp-ostrel-service [options]\n"
           "Guards this machine without a window: a guard pass every interval (new failed logons\n"
           "counted, repeat offenders blocked), the release of expired blocks after each pass, and\n"
           "on request the honeypot. New lines in a watched log start a pass at once. Log lines go to standard output, "
           "one line each, with the date\n"
           "and time; lines of the release pane begin with \"[Clearlog] \". SIGTERM or SIGINT end it\n"
           "in order: honeypot connections awaited, firewall changes applied, Config.ini saved.\n"
           "\n"
           "  --config FILE       settings file (default: Config.ini next to the executable)\n"
           "  --eventlog DIR      event channel folder (default: Eventlog next to the executable);\n"
           "                      on Windows, given alone, the channel file there is read\n"
           "                      instead of the event log\n"
           "  --source SOURCE     where failed logons are read, over the setting EventSource:\n"
           "                        eventlog         the Windows event log (default on Windows)\n"
           "                        channel          the channel file in the event channel folder\n"
           "                                         (default elsewhere; what tests feed)\n"
           "                        xrdp[:PATH]      the AUTHFAIL lines of xrdp's session manager log\n"
           "                                         (default PATH /var/log/xrdp-sesman.log)\n"
           "  --interval SECONDS  seconds between passes, " +
           std::to_string(MinimumInterval) + " to " + std::to_string(MaximumInterval) +
           " (default 5)\n"
           "  --honeypot PORT     also run the honeypot on PORT, " +
           std::to_string(MinimumHoneypotPort) + " to " + std::to_string(MaximumHoneypotPort) +
           "\n"
           "  --once              run one pass now and end (for cron and tests)\n"
           "  --debug             block and release nothing; queries and log lines still run\n"
           "  --detail-log        write the additional progress lines\n"
           "  --install-service   register as the Windows service \"RDP-Ostrel\" with the other options\n"
           "                      given here, started with the system (Windows, as administrator)\n"
           "  --uninstall-service stop the Windows service and remove its registration\n"
           "  --version           the version\n"
           "  --help              this text\n"
           "\n"
           "Exit status: 0 after a stop request or a --once pass, 1 when the start-up or a --once\n"
           "pass failed (the reason on standard error), 2 for a command line it cannot use.\n";
}

} // namespace ostrel
