#include "blocking/AbuseReport.h"

#include "blocking/HttpGet.h"
#include "common/Errors.h"
#include "common/Operator.h"
#include "settings/Settings.h"

namespace ostrel {

AbuseReport::AbuseReport(const Settings& settings, Operator& op) : m_settings(settings), m_op(op) {
    // Started here, on the owner's thread, whichever thread queues the first report.
    m_worker = std::thread([this] { work(); });
}

AbuseReport::~AbuseReport() {
    finish();
}

std::string AbuseReport::report(const std::string& address) {
    return send(address, limits()).result;
}

AbuseReport::Outcome AbuseReport::send(const std::string& address, const Limits& limits) {
    if (m_op.detailLog())
        logLine(m_op, " - Reporting (call to reporting-script) started ... ");
    const std::string url = m_settings.get(&SettingsValues::AbuseReportRDPURL) +
                            "&KEY=" + m_settings.get(&SettingsValues::AbuseKEY) + "&IP=" + address;
    setLastResult("0");
    if (m_op.detailLog())
        logLine(m_op, " - " + url);

    const HttpGetOptions options{UserAgent, limits.connectMs, limits.totalMs, BodyLimit};
    try {
        std::string body = httpGet(url, options);
        setLastResult(body);
        // The body of this report, not whatever a concurrent report has set since.
        if (m_op.detailLog())
            logLine(m_op, " - Abuse Result: " + body);
        return {std::move(body), true};
    } catch (const std::exception& error) {
        logLine(m_op, std::string(" - Ausnahme aufgetreten: ") + errorTypeName(error));
        logLine(m_op, std::string(" - Fehlermeldung: ") + error.what());
        return {"0", false};
    }
}

std::string AbuseReport::lastResult() const {
    std::lock_guard lock(m_mutex);
    return m_lastResult;
}

void AbuseReport::setTimeouts(long connectMs, long totalMs) {
    std::lock_guard lock(m_mutex);
    m_connectMs = connectMs;
    m_totalMs = totalMs;
}

AbuseReport::Limits AbuseReport::limits() const {
    std::lock_guard lock(m_mutex);
    return {m_connectMs, m_totalMs};
}

void AbuseReport::setLastResult(std::string value) {
    std::lock_guard lock(m_mutex);
    m_lastResult = std::move(value);
}

} // namespace ostrel
