#pragma once

#include "common/Operator.h"

#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace ostrel {

// The operator as the service has one: every log line goes to a stream (standard output) as one
// whole line for journald and log collectors, flushed at once so the journal sees it when it
// happens: the priority prefix of sd-daemon(3) ("<3>" for errors), lines of the release pane
// marked with ClearlogMark, then the ISO 8601 time with its zone and the message. Secrets (the
// database password, the abuse key) are never written. There is no honeypot list to keep; the two
// switches are fixed by the command line.
class ConsoleOperator : public Operator {
public:
    static constexpr const char* ClearlogMark = "[Clearlog] ";
    // The texts that must never appear in a line, asked for at every line (they may change).
    using Secrets = std::function<std::vector<std::string>()>;

    ConsoleOperator(std::ostream& out, bool debug, bool detailLog);

    void log(Pane pane, const std::string& message) override;
    // A line without time (the start-up banner), at info level.
    void logPlain(Pane pane, const std::string& line) override;
    void tarpitAppend(const std::string&) override {}
    void tarpitRemove(const std::string&) override {}
    bool debug() const override { return m_debug; }
    bool detailLog() const override { return m_detailLog; }
    // One whole line to `stream` under the lock of the log lines: the service writes its error
    // reports and its log lines to one file, from the pass and the honeypot's threads alike.
    void writeLine(std::ostream& stream, const std::string& line);

    void setSecrets(Secrets secrets);
    // Writes an error's line unless a line of this round (since beginRound) told the same text.
    void logErrorOnce(const std::string& message, const std::string& errorText);
    // Starts a round (one tick of the guard) for logErrorOnce.
    void beginRound();

private:
    void write(int level, const std::string& text);

    std::mutex m_mutex; // lines of several threads never run into each other
    std::ostream& m_out;
    const bool m_debug;
    const bool m_detailLog;
    Secrets m_secrets;
    std::vector<std::string> m_errorsThisRound;
};

} // namespace ostrel
