#pragma once

#include "config/Settings.h"
#include "guard/GuardTimer.h"
#include "service/ConsoleOperator.h"

#include <exception>
#include <memory>
#include <ostream>

namespace ostrel {

class AbuseReport;
class ConfigurationLoad;
class IniFile;
class Pit;
struct ServiceOptions;
namespace platform {
class EventSource;
class FirewallCommand;
} // namespace platform

// The guard without a window: the long-lived pieces the operator window owns (settings and
// their store, firewall command, abuse report, configuration load with the start-up
// connection, the pass, the honeypot), driven by the service's run loop instead of buttons.
// Ends in order when it goes: honeypot connections awaited, firewall changes applied, the
// start-up connection dropped, Config.ini written once more.
class HeadlessGuard : private PassProgress {
public:
    // Log lines go to `out`; reports of errors that escape a tick go to `errors`.
    HeadlessGuard(const ServiceOptions& options, std::ostream& out, std::ostream& errors);
    ~HeadlessGuard() override;
    HeadlessGuard(const HeadlessGuard&) = delete;
    HeadlessGuard& operator=(const HeadlessGuard&) = delete;

    // What the window does when it is first shown (load, start-up connection, banner, the
    // firewall made to hold every active block again). A configuration that the window would
    // refuse to guard with (a missing value, no database) raises Error saying why, as does a
    // conversion error of the load.
    void startUp();
    // Starts the honeypot on `port`; ESocketError when it cannot listen.
    void startHoneypot(int port);
    // One second of the window's running timer; an error that escapes it is reported, and the
    // next tick starts afresh.
    void tick();
    // The window's "Single pass"; errors that escape it are raised.
    void singlePass();

private:
    // The window's progress bar has no counterpart here.
    void setMaximum(int) override {}
    void stepIt() override {}
    void reset() override {}

    void reportError(const std::exception_ptr& error);

    std::ostream& m_errors;
    ConsoleOperator m_operator;
    Settings m_settings;
    std::unique_ptr<IniFile> m_ini;
    std::unique_ptr<platform::FirewallCommand> m_firewall;
    std::unique_ptr<AbuseReport> m_abuseReport;
    std::unique_ptr<OperationContext> m_context;
    std::unique_ptr<platform::EventSource> m_eventSource;
    std::unique_ptr<GuardTimer> m_guard;
    std::unique_ptr<ConfigurationLoad> m_load;
    std::unique_ptr<Pit> m_pit;
};

} // namespace ostrel
