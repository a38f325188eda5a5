#pragma once

#include "blocking/FirewallAgreement.h"
#include "blocking/FirewallLock.h"

#include <memory>

namespace ostrel {

class Settings;
class IniFile;
class Operator;
class AbuseReport;
namespace platform {
class FirewallCommand;
}

// The long-lived pieces that the operator window owns and every operation works with.
// The operations read settings and switches from here at the moment of use.
struct OperationContext {
    Settings& settings;
    IniFile& ini;
    Operator& op;
    platform::FirewallCommand& firewallCommand;
    AbuseReport& abuseReport;
    // One per program; copies of the context share it.
    std::shared_ptr<FirewallLock> firewallLock = std::make_shared<FirewallLock>();
    // What the last reconcile left the firewall agreeing with; one per program like the lock.
    std::shared_ptr<FirewallAgreement> firewallAgreement = std::make_shared<FirewallAgreement>();
};

} // namespace ostrel
