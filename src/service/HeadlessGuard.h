#pragma once

#include "guard/GuardParts.h"
#include "guard/GuardTimer.h"
#include "platform/EventSource.h"
#include "service/ConsoleOperator.h"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace ostrel {

struct ServiceOptions;

// The guard without a window: the parts the operator window owns, driven by the service's run
// loop instead of buttons. Ends in order when it goes, as the parts do.
class HeadlessGuard : private PassProgress {
public:
    // Log lines go to `out`; reports of errors that escape a tick go to `errors`.
    HeadlessGuard(const ServiceOptions& options, std::ostream& out, std::ostream& errors);
    // After a start-up that succeeded: ends the parts in order and writes the stop line.
    ~HeadlessGuard() override;
    HeadlessGuard(const HeadlessGuard&) = delete;
    HeadlessGuard& operator=(const HeadlessGuard&) = delete;

    // What the window does when it is first shown (load, start-up connection, banner, the
    // firewall made to hold every active block again). A configuration that the window would
    // refuse to guard with (a missing value, no database) raises Error saying why, as does a
    // conversion error of the load. So does another guard of this machine that reads the same
    // event channel: two services (or the service and the window) never read one channel.
    void startUp();
    // Starts the honeypot on `port`; ESocketError when it cannot listen.
    void startHoneypot(int port);
    // Has `onChange` called (from another thread) when the event source may have new records;
    // a source that cannot be watched is told in a line, and the timer alone finds its records.
    void watchSource(std::function<void()> onChange);
    // A pass at once for records the watch has seen; errors are reported as a tick's are.
    void passNow();
    // One second of the window's running timer; an error that escapes it is reported, and the
    // next tick starts afresh.
    void tick();
    // The window's "Single pass"; errors that escape it are raised. Returns the line its scan
    // logged for an error, nullopt when the pass completed.
    std::optional<std::string> singlePass();

private:
    // The window's progress bar has no counterpart here.
    void setMaximum(int) override {}
    void stepIt() override {}
    void reset() override {}

    void reportError(const std::exception_ptr& error);
    // What the guard runs with, in one line: version, event source, database, prefixes, interval, honeypot.
    std::string startLine() const;

    std::optional<int> m_honeypotPort;
    bool m_started = false;
    ConsoleOperator m_operator;
    GuardParts m_parts;
    std::unique_ptr<platform::SourceWatch> m_watch; // ends before the parts it wakes
};

} // namespace ostrel
