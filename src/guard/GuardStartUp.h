#pragma once

namespace ostrel {

class ConfigurationLoad;
struct OperationContext;
namespace platform {
class EventSource;
}

// The start-up of a guard, with its window or without: the configuration load, the start-up
// connection and the banner lines, the line that names where failed logons are read, then, when the configuration is
// usable, the firewall made to hold every active block again (after a reboot its rules are gone). A reconcile that
// fails is logged and the one after the next pass tries again; a conversion error of the load raises.
void startUpGuard(ConfigurationLoad& load, OperationContext& context, const platform::EventSource& source);

} // namespace ostrel
