#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace ostrel {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the UI thread, so that a program asked to
// stop ends as when its window is closed: placement saved, honeypot stopped and awaited,
// queued firewall changes applied. One instance at a time.
class TerminationSignals : public QObject {
public:
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    std::function<void()> m_onSignal;
    int m_fds[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace ostrel
