#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace ostrel {

class Settings;
class Operator;

// The abuse report: one HTTP GET of AbuseReportRDPURL + "&KEY=" + AbuseKEY + "&IP=" + address
// per new block, through a client made for that one request. Failures are logged here and
// never raised. The last report result is shared by every caller, under a lock.
//
// The block operation only queues its report: one worker thread of this object sends the
// queued reports in order, so a slow or dead report server never holds up a pass or a
// honeypot connection. The worker lives from construction to finish().
class AbuseReport {
public:
    static constexpr const char* UserAgent = "Murabel RDP-Ostrel - Version 1.0 - ABUSE-Report";
    static constexpr long DefaultConnectTimeoutSeconds = 5;
    static constexpr long DefaultTotalTimeoutSeconds = 15;
    // Reports that may wait for the worker; a report beyond them is dropped with a line.
    static constexpr std::size_t QueueCapacity = 1000;
    // The most of a reply body kept as the result: a longer body is cut there, and the rest
    // of it is not read.
    static constexpr std::size_t BodyLimit = 64 * 1024;

    AbuseReport(const Settings& settings, Operator& op);
    // Ends as finish() does: the worker never outlives the Operator it logs to.
    ~AbuseReport();
    AbuseReport(const AbuseReport&) = delete;
    AbuseReport& operator=(const AbuseReport&) = delete;

    // Queues the report of `address` for the worker and returns at once. When the report
    // ends, the worker writes " - Abuse Report Result: " + its result (with DetailLog on).
    // A full queue, or a program that is ending, drops the report with one line naming it.
    void enqueue(const std::string& address);

    // One report on the calling thread, with its log lines; returns the result it set:
    // the reply body, or "0" when the request failed.
    std::string report(const std::string& address);

    // Program end: the worker goes on sending what is queued, in order, until a report fails
    // or the total time limit of one report has passed since the end began; every report left
    // then is dropped with a line. Returns when the worker has ended; later reports are
    // dropped with a line. Call it from the owner's thread, before the Operator goes.
    void finish();

    std::string lastResult() const;

    // Time limits for connecting and for the whole request, in milliseconds.
    void setTimeouts(long connectMs, long totalMs);

private:
    struct Limits {
        long connectMs;
        long totalMs;
    };
    struct Outcome {
        std::string result;
        bool succeeded;
    };

    Outcome send(const std::string& address, const Limits& limits);
    Limits limits() const;
    void setLastResult(std::string value);

    void work();
    // The next report and its limits; false when the worker is to end (dropping what is left
    // when the end's budget is spent or a report failed while ending).
    bool next(std::string& address, Limits& limits, bool failedWhileEnding);
    void logDropped(const std::string& address, const std::string& why);

    const Settings& m_settings;
    Operator& m_op;

    mutable std::mutex m_mutex; // the last result and the time limits
    std::string m_lastResult;
    long m_connectMs = DefaultConnectTimeoutSeconds * 1000;
    long m_totalMs = DefaultTotalTimeoutSeconds * 1000;

    std::mutex m_queueMutex; // the queue and the end
    std::condition_variable m_queueChanged;
    std::deque<std::string> m_queue;
    bool m_ending = false;
    std::chrono::steady_clock::time_point m_endDeadline;
    std::thread m_worker;
};

} // namespace ostrel
