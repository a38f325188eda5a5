#pragma once

#include <mutex>
#include <string>

namespace ostrel {

class Settings;
class Operator;

// The abuse report: one HTTP GET of AbuseReportRDPURL + "&KEY=" + AbuseKEY + "&IP=" + address
// per new block, through a client made for that one request. Failures are logged here and
// never raised. The last report result is shared by every caller, under a lock.
class AbuseReport {
public:
    static constexpr const char* UserAgent = "Murabel RDP-Ostrel - Version 1.0 - ABUSE-Report";
    static constexpr long DefaultConnectTimeoutSeconds = 5;
    static constexpr long DefaultTotalTimeoutSeconds = 15;

    AbuseReport(const Settings& settings, Operator& op);

    void report(const std::string& address);
    std::string lastResult() const;

    // Time limits for connecting and for the whole request, in milliseconds.
    void setTimeouts(long connectMs, long totalMs);

private:
    void setLastResult(std::string value);

    const Settings& m_settings;
    Operator& m_op;
    mutable std::mutex m_mutex;
    std::string m_lastResult;
    long m_connectMs = DefaultConnectTimeoutSeconds * 1000;
    long m_totalMs = DefaultTotalTimeoutSeconds * 1000;
};

} // namespace ostrel
