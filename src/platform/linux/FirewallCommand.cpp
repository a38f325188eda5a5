#include "platform/FirewallCommand.h"

#include "platform/linux/NftablesFirewall.h"

namespace ostrel::platform {

std::unique_ptr<FirewallCommand> makeFirewallCommand(Operator& op) {
    // Only the program's own table is ever touched.
    return makeNftablesFirewall(op);
}

} // namespace ostrel::platform
