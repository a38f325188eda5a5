#pragma once

#include "common/Operator.h"

#include <atomic>
#include <mutex>
#include <ostream>

namespace ostrel {

// The operator as the service has one: every log line goes to a stream (standard output) as
// one whole line, flushed at once so a service manager's journal sees it when it happens.
// Lines of the release pane begin with ClearlogMark; there is no honeypot list to keep. The two
// switches are fixed by the command line.
class ConsoleOperator : public Operator {
public:
    static constexpr const char* ClearlogMark = "[Clearlog] ";

    ConsoleOperator(std::ostream& out, bool debug, bool detailLog);

    void log(Pane pane, const std::string& message) override;
    void logPlain(Pane pane, const std::string& line) override;
    void tarpitAppend(const std::string&) override {}
    void tarpitRemove(const std::string&) override {}
    bool debug() const override { return m_debug; }
    bool detailLog() const override { return m_detailLog; }
    // One whole line to `stream` under the lock of the log lines: the service writes its error
    // reports and its log lines to one file, from the pass and the honeypot's threads alike.
    void writeLine(std::ostream& stream, const std::string& line);

private:
    std::mutex m_mutex; // lines of several threads never run into each other
    std::ostream& m_out;
    const bool m_debug;
    const bool m_detailLog;
};

} // namespace ostrel
