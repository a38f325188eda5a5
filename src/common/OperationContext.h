#pragma once

#include "common/FirewallLock.h"

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
};

} // namespace ostrel
