#include "guard/GuardTimer.h"

#include "blocking/CleanFirewall.h"
#include "blocking/FirewallReconcile.h"
#include "common/Conversion.h"
#include "common/Errors.h"
#include "common/Operator.h"
#include "config/IniFile.h"
#include "guard/GetEventlog.h"
#include "platform/ComScope.h"
#include "platform/EventSource.h"
#include "platform/portable/ChannelClaim.h"
#include "settings/Settings.h"

#include <cstdio>
#include <exception>

namespace ostrel {
namespace {

// 32-bit arithmetic that wraps as the counter's fixed width does, instead of overflowing.
std::int32_t wrapped(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::string oleErrorLine(const EOleException& error) {
    char code[16];
    std::snprintf(code, sizeof code, "%X", static_cast<std::uint32_t>(error.code()));
    return std::string(" - EOleException ") + error.what() + " " + code;
}

} // namespace

GuardTimer::GuardTimer(OperationContext& context, platform::EventSource& source, PassProgress& progress)
    : m_context(context), m_source(source), m_progress(progress) {}

GuardTimer::~GuardTimer() = default;

void GuardTimer::claimChannelAt(std::filesystem::path claimFile) {
    m_claimFile = std::move(claimFile);
    m_claim.reset();
}

bool GuardTimer::claimChannel() {
    std::filesystem::path file = m_claimFile;
    if (!file.empty()) {
        // A source with a lock of its own (the xrdp log) is claimed there instead.
        if (std::filesystem::path own = m_source.claimFile(); !own.empty())
            file = std::move(own);
    }
    if (file != m_claimedFile) {
        m_claim.reset();
        m_holder.clear();
        m_claimedFile = file;
    }
    if (file.empty() || m_claim)
        return true;
    std::string holder;
    m_claim = platform::ChannelClaim::tryTake(file, holder);
    if (m_claim) {
        if (!m_holder.empty())
            logLine(m_context.op,
                    " - The event log is guarded here again: the other guard (" + m_holder + ") is gone.");
        m_holder.clear();
        return true;
    }
    // Said once, not at every pass: this guard goes on with what it may still do.
    if (holder != m_holder)
        logLine(m_context.op,
                " - The event log is guarded by " + holder + " on this machine already: this guard does not read it.");
    m_holder = holder;
    return false;
}

std::int32_t GuardTimer::interval() const {
    return StrToInt(m_context.settings.get(&SettingsValues::Time));
}

void GuardTimer::TimerTimer() {
    if (tick())
        runPass();
}

bool GuardTimer::tick() {
    m_tickCounter = wrapped(std::int64_t{m_tickCounter} + 1);
    m_progress.stepIt();
    const std::int32_t n = interval();
    if (n > m_tickCounter && IntervalCeiling > m_tickCounter)
        return false;
    m_progress.reset();
    m_tickCounter = 0;
    return true;
}

void GuardTimer::runPass() {
    runScan();
    CleanFirewall(m_context);
    // After the release, so a block it ended is not put back, and once a pass, so the firewall
    // follows the table within one pass whoever changed it.
    reconcileFirewall(m_context);
}

void GuardTimer::runScan() {
    m_lastScanError.reset();
    try {
        if (!claimChannel())
            return;
        std::exception_ptr scanError;
        {
            [[maybe_unused]] const platform::ComScope com;
            try {
                GetEventlog(m_context, m_source, m_context.settings.get(&SettingsValues::LastRecord));
            } catch (...) {
                scanError = std::current_exception();
            }
        }
        // Written after every pass, also after a failed scan: it holds what the scan has stored.
        // Empty means no load has read it yet: writing that would erase the saved mark.
        const std::string lastRecord = m_context.settings.get(&SettingsValues::LastRecord);
        if (!lastRecord.empty())
            m_context.ini.WriteString("LastRecord", lastRecord);
        if (scanError)
            std::rethrow_exception(scanError);
    } catch (const EOleException& error) {
        m_lastScanError = oleErrorLine(error);
        logLine(m_context.op, *m_lastScanError);
    } catch (const std::exception& error) {
        m_lastScanError = std::string(" ") + errorTypeName(error) + ":" + error.what();
        logLine(m_context.op, *m_lastScanError);
    }
}

void GuardTimer::passNow() {
    m_tickCounter = wrapped(std::int64_t{interval()} + 1);
}

void GuardTimer::singlePass() {
    passNow();
    TimerTimer();
    logLine(m_context.op, " - Single pass carried out!");
}

void GuardTimer::passAtOnce() {
    // One short of the ceiling, so an interval that is no number does not keep the pass away.
    m_tickCounter = IntervalCeiling - 1;
    TimerTimer();
}

void GuardTimer::timerStarted() {
    m_progress.setMaximum(wrapped(std::int64_t{interval()} * 10));
}

} // namespace ostrel
