#pragma once

#include "common/Operator.h"

#include <atomic>
#include <mutex>
#include <ostream>

namespace ostrel {

// The operator of the command-line tool: the operations' messages go to a stream as they are,
// without date and time (the caller sees them as they happen). While quiet, messages are dropped
// (the load's progress lines are no answer to a command). Neither switch is on: the tool blocks
// and releases for real and writes no detail lines.
class CtlOperator : public Operator {
public:
    explicit CtlOperator(std::ostream& out) : m_out(out) {}

    void log(Pane pane, const std::string& message) override;
    void logPlain(Pane pane, const std::string& line) override { log(pane, line); }
    void tarpitAppend(const std::string&) override {}
    void tarpitRemove(const std::string&) override {}
    bool debug() const override { return false; }
    bool detailLog() const override { return false; }

    void setQuiet(bool quiet) { m_quiet = quiet; }

private:
    std::mutex m_mutex;
    std::ostream& m_out;
    std::atomic<bool> m_quiet = false;
};

} // namespace ostrel
