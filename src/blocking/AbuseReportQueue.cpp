// The abuse report's queue and its worker thread.
#include "blocking/AbuseReport.h"
#include "common/Operator.h"

#include <algorithm>

namespace ostrel {

namespace {

// A limit of 0 means none to the HTTP client; while ending, none may run past the budget.
long capped(long limit, long left) {
    return limit <= 0 ? left : std::min(limit, left);
}

const std::string EndingReason = "the program ends.";

} // namespace

void AbuseReport::enqueue(const std::string& address) {
    bool ending = false;
    {
        std::lock_guard lock(m_queueMutex);
        ending = m_ending;
        if (!ending && m_queue.size() < QueueCapacity) {
            m_queue.push_back(address);
            m_queueChanged.notify_one();
            return;
        }
    }
    // Outside the lock: the line may go to a window that another thread keeps busy.
    logDropped(address, ending ? EndingReason : std::to_string(QueueCapacity) + " reports are waiting.");
}

void AbuseReport::finish() {
    {
        std::lock_guard lock(m_queueMutex);
        if (!m_ending) {
            m_ending = true;
            // The budget of the end is one report's total limit, also where none is set for a report.
            const long budget = limits().totalMs > 0 ? limits().totalMs : DefaultTotalTimeoutSeconds * 1000;
            m_endDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budget);
        }
        m_queueChanged.notify_one();
    }
    if (m_worker.joinable())
        m_worker.join();
}

void AbuseReport::work() {
    bool failedWhileEnding = false;
    std::string address;
    Limits reportLimits{};
    while (next(address, reportLimits, failedWhileEnding)) {
        const Outcome outcome = send(address, reportLimits);
        if (m_op.detailLog())
            logLine(m_op, " - Abuse Report Result: " + outcome.result);
        if (!outcome.succeeded) {
            // A server that fails now will fail the rest as well: the end does not wait for it again.
            std::lock_guard lock(m_queueMutex);
            failedWhileEnding = m_ending;
        }
    }
}

bool AbuseReport::next(std::string& address, Limits& reportLimits, bool failedWhileEnding) {
    std::deque<std::string> dropped;
    {
        std::unique_lock lock(m_queueMutex);
        m_queueChanged.wait(lock, [this] { return !m_queue.empty() || m_ending; });
        if (m_queue.empty())
            return false;
        reportLimits = limits();
        if (!m_ending) {
            address = std::move(m_queue.front());
            m_queue.pop_front();
            return true;
        }
        using std::chrono::milliseconds;
        const long left = static_cast<long>(
            std::chrono::duration_cast<milliseconds>(m_endDeadline - std::chrono::steady_clock::now()).count());
        if (!failedWhileEnding && left > 0) {
            address = std::move(m_queue.front());
            m_queue.pop_front();
            reportLimits = {capped(reportLimits.connectMs, left), capped(reportLimits.totalMs, left)};
            return true;
        }
        dropped.swap(m_queue);
    }
    for (const std::string& each : dropped)
        logDropped(each, EndingReason);
    return false;
}

void AbuseReport::logDropped(const std::string& address, const std::string& why) {
    logLine(m_op, " - Abuse report for " + address + " dropped: " + why);
}

} // namespace ostrel
