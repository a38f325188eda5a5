#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace ostrel {

namespace platform {
class StopSignals;
}

// Turns the system's requests to end the program (SIGTERM, SIGINT and SIGHUP on Linux; a
// console control event on Windows) into a call on the UI thread, so that a program asked to
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
    std::unique_ptr<platform::StopSignals> m_signals;
};

} // namespace ostrel
