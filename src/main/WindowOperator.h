#pragma once

#include "common/Operator.h"

#include <atomic>
#include <string>

class QListWidget;
class QObject;
class QPlainTextEdit;
class QString;

namespace ostrel {

// The operator window as the core sees it. A change asked for on the window's own thread is
// made at once; one asked for on any other thread is posted to the window's thread, so the
// asking thread never waits and each thread's changes arrive in the order it asked for them.
// The date and time of a line are taken on the asking thread, when it asks.
class WindowOperator : public Operator {
public:
    // `context` is the window: posted changes die with it.
    WindowOperator(QObject& context, QPlainTextEdit& log, QPlainTextEdit& clearlog, QListWidget& tarpit);

    void log(Pane pane, const std::string& message) override;
    void logPlain(Pane pane, const std::string& line) override;
    void tarpitAppend(const std::string& address) override;
    void tarpitRemove(const std::string& address) override;
    bool debug() const override { return m_debug.load(); }
    bool detailLog() const override { return m_detailLog.load(); }

    // Mirrors of the two check boxes, set by the window whenever one changes.
    void setDebug(bool on) { m_debug = on; }
    void setDetailLog(bool on) { m_detailLog = on; }

    // Deletes the first entry of the list equal to `address`, compared without regard to case.
    static void removeFirstEqual(QListWidget& list, const QString& address);
    // Deletes the entry in `row`. When it is the selected (or current) one, no entry is selected
    // or current afterwards: the selection never moves to a neighbour by itself.
    static void deleteEntry(QListWidget& list, int row);

private:
    template <typename Change> void onWindowThread(Change&& change);
    QPlainTextEdit& pane(Pane which) const;

    QObject& m_context;
    QPlainTextEdit& m_log;
    QPlainTextEdit& m_clearlog;
    QListWidget& m_tarpit;
    std::atomic<bool> m_debug{false};
    std::atomic<bool> m_detailLog{false};
};

} // namespace ostrel
