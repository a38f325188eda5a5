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

// A source named on the command line wins over the setting; a channel folder named alone is read
// as such everywhere.
std::optional<std::string> eventSourceChoiceOf(const ServiceOptions& options) {
    if (options.source)
        return options.source;
    if (options.eventlogGiven)
        return "channel";
    return std::nullopt;
}

} // namespace

HeadlessGuard::HeadlessGuard(const ServiceOptions& options, std::ostream& out, std::ostream& errors)
    : m_errors(errors), m_operator(out, options.debug, options.detailLog),
      // Without a dialog to show, a missing value is told by startUp() instead.
      m_parts({options.configFile, options.eventlog, nullptr, eventSourceChoiceOf(options),
               [](Operator& op) { return platform::makeFirewallCommand(op); }, &platform::AdapterIPAddress, nullptr},
              m_operator, *this) {
    if (options.interval)
        m_parts.settings.set(&SettingsValues::Time, *options.interval);
}

void HeadlessGuard::startUp() {
    startUpGuard(*m_parts.load, *m_parts.context, *m_parts.eventSource);
    if (!m_parts.load->missingKeys().empty()) {
        throw Error("Incorrect configuration: " + joined(m_parts.load->missingKeys()) + " missing in " +
                    m_parts.ini->path().string() + " (placeholders written; put the real values there)");
    }
    if (m_parts.load->ConfigError())
        throw Error(m_parts.load->connectionError());
}

void HeadlessGuard::startHoneypot(int port) {
    m_parts.pit->start(port);
}

void HeadlessGuard::watchSource(std::function<void()> onChange) {
    try {
        m_watch = m_parts.eventSource->watch(std::move(onChange));
        if (m_watch)
            logLine(m_operator, " - New records in " + m_parts.eventSource->description() + " start a pass at once.");
    } catch (const std::exception& error) {
        logLine(m_operator, std::string(" - New records are found at the timer's passes only: ") + error.what());
    }
}

void HeadlessGuard::passNow() {
    try {
        m_parts.guard->passNow();
    } catch (...) {
        reportError(std::current_exception());
    }
}

void HeadlessGuard::tick() {
    try {
        m_parts.guard->TimerTimer();
    } catch (...) {
        reportError(std::current_exception());
    }
}

void HeadlessGuard::singlePass() {
    m_parts.guard->singlePass();
}

void HeadlessGuard::reportError(const std::exception_ptr& error) {
    m_errors << formatLogLine(std::chrono::system_clock::now(), " - " + errorReportText(error)) << std::endl;
}

} // namespace ostrel
