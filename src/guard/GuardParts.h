#pragma once

#include "blocking/OperationContext.h"
#include "config/ConfigurationLoad.h"
#include "guard/GuardTimer.h"
#include "honeypot/Pit.h"
#include "platform/EventSource.h"
#include "platform/FirewallCommand.h"
#include "settings/Settings.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace ostrel {

class AbuseReport;
class IniFile;
class Operator;

// The long-lived parts of a running guard, the same behind the window and behind the service:
// the settings and their store, the firewall command, the abuse report, the context every
// operation works with, the event source, the pass, the configuration load with its start-up
// connection, and the honeypot. Each front end brings its Operator and its progress display and
// drives the parts its own way. They end in order: honeypot connections awaited, firewall changes
// applied, queued abuse reports sent or dropped, the start-up connection dropped, and Config.ini
// written once more as its store goes.
class GuardParts {
public:
    using FirewallFactory = std::function<std::unique_ptr<platform::FirewallCommand>(Operator&)>;

    struct Wiring {
        std::filesystem::path configFile;                   // Config.ini
        std::filesystem::path eventChannelFolder;           // also the registry probe's
        std::unique_ptr<platform::EventSource> eventSource; // none: the one the setting EventSource names
        std::optional<std::string> eventSourceChoice;       // wins over the setting (the service's --source)
        FirewallFactory makeFirewall;                       // made with the front end's Operator
        Pit::AddressSource adapterAddress;                  // the honeypot's adapter address
        ConfigurationLoad::ShowDialog showDialog;           // none: a missing value is only reported
        bool readOnlySettings = false;                      // Config.ini read but never written
    };

    // `op` and `progress` outlive the parts.
    GuardParts(Wiring wiring, Operator& op, PassProgress& progress);
    ~GuardParts();
    GuardParts(const GuardParts&) = delete;
    GuardParts& operator=(const GuardParts&) = delete;

    // The ordered end of the parts that work on their own (threads, queues, connections); the
    // rest goes with the object. Safe to call more than once.
    void end();

    Settings settings;
    std::unique_ptr<IniFile> ini;
    std::unique_ptr<platform::FirewallCommand> firewall;
    std::unique_ptr<AbuseReport> abuseReport;
    std::unique_ptr<OperationContext> context;
    std::unique_ptr<platform::EventSource> eventSource;
    std::unique_ptr<GuardTimer> guard;
    std::unique_ptr<ConfigurationLoad> load;
    std::unique_ptr<Pit> pit;
};

} // namespace ostrel
