#include "platform/FirewallCommand.h"

#include "platform/windows/WindowsFirewall.h"

namespace ostrel::platform {

std::unique_ptr<FirewallCommand> makeFirewallCommand(Operator& op) {
    return makeWindowsFirewall(op);
}

} // namespace ostrel::platform
