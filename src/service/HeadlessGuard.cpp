#include "service/HeadlessGuard.h"

#include "blocking/AbuseReport.h"
#include "common/ErrorReport.h"
#include "common/Errors.h"
#include "common/LogLine.h"
#include "config/ConfigurationLoad.h"
#include "config/IniFile.h"
#include "guard/GuardStartUp.h"
#include "honeypot/Pit.h"
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

} // namespace

HeadlessGuard::HeadlessGuard(const ServiceOptions& options, std::ostream& out, std::ostream& errors)
    : m_errors(errors), m_operator(out, options.debug, options.detailLog) {
    if (options.interval)
        m_settings.set(&SettingsValues::Time, *options.interval);
    m_ini = std::make_unique<IniFile>(options.configFile);
    m_firewall = platform::makeFirewallCommand(m_operator);
    m_abuseReport = std::make_unique<AbuseReport>(m_settings, m_operator);
    m_context = std::make_unique<OperationContext>(
        OperationContext{m_settings, *m_ini, m_operator, *m_firewall, *m_abuseReport});
    // A channel folder named on the command line is read as such everywhere; otherwise the
    // platform's own event log (on Windows: WMI).
    if (options.eventlogGiven)
        m_eventSource = std::make_unique<platform::ChannelFileSource>(options.eventlog);
    else
        m_eventSource = platform::makeEventSource(options.eventlog);
    m_guard = std::make_unique<GuardTimer>(*m_context, *m_eventSource, static_cast<PassProgress&>(*this));
    // Without a dialog to show, a missing value is told by startUp() instead.
    m_load = std::make_unique<ConfigurationLoad>(m_settings, *m_ini, m_operator, options.eventlog, nullptr);
    m_pit = std::make_unique<Pit>(*m_context, &platform::AdapterIPAddress);
}

HeadlessGuard::~HeadlessGuard() {
    // The honeypot's threads block through the firewall: they end before its queue is applied.
    m_pit.reset();
    m_firewall->drain();
    m_load->Conn().disconnect();
    // The store, going last but one, writes Config.ini once more.
}

void HeadlessGuard::startUp() {
    startUpGuard(*m_load, *m_context);
    if (!m_load->missingKeys().empty()) {
        throw Error("Incorrect configuration: " + joined(m_load->missingKeys()) + " missing in " +
                    m_ini->path().string() + " (placeholders written; put the real values there)");
    }
    if (m_load->ConfigError())
        throw Error(m_load->connectionError());
}

void HeadlessGuard::startHoneypot(int port) {
    m_pit->start(port);
}

void HeadlessGuard::tick() {
    try {
        m_guard->TimerTimer();
    } catch (...) {
        reportError(std::current_exception());
    }
}

void HeadlessGuard::singlePass() {
    m_guard->singlePass();
}

void HeadlessGuard::reportError(const std::exception_ptr& error) {
    m_errors << formatLogLine(std::chrono::system_clock::now(), " - " + errorReportText(error)) << std::endl;
}

} // namespace ostrel
