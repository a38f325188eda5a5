#include "service/HeadlessGuard.h"

#include "common/ErrorReport.h"
#include "common/Errors.h"
#include "common/LogLine.h"
#include "config/IniFile.h"
#include "guard/GuardStartUp.h"
#include "platform/platform.h"
#include "service/ServiceOptions.h"

#include <chrono>

namespace ostrel {
namespace {

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

// A channel folder named on the command line is read as such everywhere; otherwise the platform's
// own event log (on Windows: WMI).
std::unique_ptr<platform::EventSource> eventSourceFor(const ServiceOptions& options) {
    if (options.eventlogGiven)
        return std::make_unique<platform::ChannelFileSource>(options.eventlog);
    return platform::makeEventSource(options.eventlog);
}

} // namespace

HeadlessGuard::HeadlessGuard(const ServiceOptions& options, std::ostream& out, std::ostream& errors)
    : m_errors(errors), m_operator(out, options.debug, options.detailLog),
      // Without a dialog to show, a missing value is told by startUp() instead.
      m_parts({options.configFile, options.eventlog, eventSourceFor(options),
               [](Operator& op) { return platform::makeFirewallCommand(op); }, &platform::AdapterIPAddress, nullptr},
              m_operator, *this) {
    if (options.interval)
        m_parts.settings.set(&SettingsValues::Time, *options.interval);
}

void HeadlessGuard::startUp() {
    startUpGuard(*m_parts.load, *m_parts.context);
    if (!m_parts.load->missingKeys().empty()) {
        throw Error("Incorrect configuration: " + joined(m_parts.load->missingKeys()) + " missing in " +
                    m_parts.ini->path().string() + " (placeholders written; put the real values there)");
    }
    if (m_parts.load->ConfigError())
        throw Error(m_parts.load->connectionError());
    if (!m_parts.guard->claimChannel())
        throw Error("The event log is guarded by " + m_parts.guard->holder() + " on this machine already");
}

void HeadlessGuard::startHoneypot(int port) {
    m_parts.pit->start(port);
}

void HeadlessGuard::tick() {
    try {
        m_parts.guard->TimerTimer();
    } catch (...) {
        reportError(std::current_exception());
    }
}

std::optional<std::string> HeadlessGuard::singlePass() {
    m_parts.guard->singlePass();
    return m_parts.guard->lastScanError();
}

void HeadlessGuard::reportError(const std::exception_ptr& error) {
    m_errors << formatLogLine(std::chrono::system_clock::now(), " - " + errorReportText(error)) << std::endl;
}

} // namespace ostrel
