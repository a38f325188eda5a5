#include "ctl/CtlSession.h"

#include "common/Errors.h"
#include "config/IniFile.h"
#include "ctl/CtlOptions.h"
#include "platform/EventChannel.h"
#include "platform/EventSource.h"
#include "platform/FirewallCommand.h"
#include "platform/InterfaceAddresses.h"
#include "platform/portable/ChannelFileSource.h"

namespace ostrel {
namespace {

std::unique_ptr<platform::EventSource> eventSourceFor(const CtlOptions& options) {
    if (options.eventlogGiven)
        return std::make_unique<platform::ChannelFileSource>(options.eventlog);
    return platform::makeEventSource(options.eventlog);
}

} // namespace

CtlSession::CtlSession(const CtlOptions& options, std::ostream& out)
    : m_operator(out),
      // No channel folder for the load: its probe would create one next to the program.
      m_parts({options.configFile,
               {},
               eventSourceFor(options),
               std::nullopt,
               [](Operator& op) { return platform::makeFirewallCommand(op); },
               &platform::AdapterIPAddress,
               nullptr,
               true},
              m_operator, *this) {
    std::error_code ignored;
    if (!std::filesystem::exists(options.configFile, ignored))
        throw Error("Cannot read " + options.configFile.string() + ": " +
                    std::make_error_code(std::errc::no_such_file_or_directory).message());
    m_operator.setQuiet(true);
    m_parts.load->OstrelKonfigurieren();
    m_operator.setQuiet(false);
    if (!m_parts.load->missingKeys().empty()) {
        std::string keys;
        for (const std::string& key : m_parts.load->missingKeys())
            keys += (keys.empty() ? "" : ", ") + key;
        throw Error("Incorrect configuration: " + keys + " missing in " + options.configFile.string());
    }
}

} // namespace ostrel
