#pragma once

#include "common/Operator.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace ostrel::test {

// An Operator that records what the core asks of the window, for assertions.
// Lines are kept without date and time.
class RecordingOperator : public Operator {
public:
    void log(Pane pane, const std::string& message) override;
    void logPlain(Pane pane, const std::string& line) override;
    void tarpitAppend(const std::string& address) override;
    void tarpitRemove(const std::string& address) override;
    bool debug() const override { return m_debug.load(); }
    bool detailLog() const override { return m_detailLog.load(); }

    void setDebug(bool on) { m_debug = on; }
    void setDetailLog(bool on) { m_detailLog = on; }

    std::vector<std::string> lines(Pane pane = Pane::Log) const;
    std::vector<std::string> tarpit() const;
    // True when some line of the pane equals the message exactly.
    bool hasLine(const std::string& message, Pane pane = Pane::Log) const;
    // True when some line of the pane contains the text.
    bool hasLineContaining(const std::string& text, Pane pane = Pane::Log) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_log;
    std::vector<std::string> m_clearlog;
    std::vector<std::string> m_tarpit;
    std::atomic<bool> m_debug{false};
    std::atomic<bool> m_detailLog{false};
};

} // namespace ostrel::test
