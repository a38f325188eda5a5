#include "service/HeadlessGuard.h"

#include "common/ErrorReport.h"
#include "common/Errors.h"
#include "common/LogLine.h"
#include "config/IniFile.h"
#include "guard/GuardStartUp.h"
#include "platform/FirewallCommand.h"
#include "platform/InterfaceAddresses.h"
#include "platform/portable/EventSourceChoice.h"
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
// as such where an event log exists. Elsewhere the channel file is what an empty setting reads
// anyway, so the setting still chooses: the systemd unit names its channel folder, and an admin
// who sets EventSource=xrdp in its Config.ini must get the xrdp log.
std::optional<std::string> eventSourceChoiceOf(const ServiceOptions& options) {
    if (options.source)
        return options.source;
    if (options.eventlogGiven &&
        platform::defaultEventSourceChoice().kind != platform::EventSourceChoice::Kind::ChannelFile)
        return "channel";
    return std::nullopt;
}

} // namespace

#ifndef OSTREL_VERSION
#define OSTREL_VERSION "unknown"
#endif

HeadlessGuard::HeadlessGuard(const ServiceOptions& options, std::ostream& out, std::ostream&)
    : m_honeypotPort(options.honeypotPort), m_operator(out, options.debug, options.detailLog),
      // Without a dialog to show, a missing value is told by startUp() instead.
      m_parts({options.configFile, options.eventlog, nullptr, eventSourceChoiceOf(options),
               [](Operator& op) { return platform::makeFirewallCommand(op); }, &platform::AdapterIPAddress, nullptr},
              m_operator, *this) {
    if (options.interval)
        m_parts.settings.set(&SettingsValues::Time, *options.interval);
    m_operator.setSecrets([this] {
        return std::vector<std::string>{m_parts.settings.get(&SettingsValues::SQLPasswort),
                                        m_parts.settings.get(&SettingsValues::AbuseKEY)};
    });
}

HeadlessGuard::~HeadlessGuard() {
    if (!m_started)
        return;
    m_parts.end();
    logLine(m_operator, " - rdp-ostrel-service stopped.");
}

std::string HeadlessGuard::startLine() const {
    const SettingsValues values = m_parts.settings.snapshot();
    std::string line =
        " - rdp-ostrel-service " OSTREL_VERSION " started: events from " + m_parts.eventSource->description() +
        ", database " + values.SQLDatabase + " on " + values.SQLServer + ":" + values.SQLPort + ", table prefix \"" +
        values.SQLTBLPrefix + "\", history prefix \"" + values.SQLTBLPrefixHistory + "\", a pass every " + values.Time +
        " seconds, " + (m_honeypotPort ? "honeypot on port " + std::to_string(*m_honeypotPort) : "no honeypot");
    if (m_operator.debug())
        line += ", debug: nothing is blocked or released";
    return line + ".";
}

void HeadlessGuard::startUp() {
    startUpGuard(*m_parts.load, *m_parts.context, *m_parts.eventSource);
    if (!m_parts.load->missingKeys().empty()) {
        throw Error("Incorrect configuration: " + joined(m_parts.load->missingKeys()) + " missing in " +
                    m_parts.ini->path().string() + " (placeholders written; put the real values there)");
    }
    if (m_parts.load->ConfigError())
        throw Error(m_parts.load->connectionError());
    if (!m_parts.guard->claimChannel())
        throw Error("The event log is guarded by " + m_parts.guard->holder() + " on this machine already");
    m_started = true;
    logLine(m_operator, startLine());
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
        m_parts.guard->passAtOnce();
    } catch (...) {
        reportError(std::current_exception());
    }
}

void HeadlessGuard::tick() {
    m_operator.beginRound();
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
    // The pass logs its scan's error; a release that then fails the same way (a server that is
    // gone) adds nothing but a second line for the same fault.
    const std::string text = errorReportText(error);
    const std::string bare = text.ends_with('.') ? text.substr(0, text.size() - 1) : text;
    m_operator.logErrorOnce(" - " + text, bare);
}

} // namespace ostrel
