#pragma once

#include "platform/platform.h"

#include <optional>
#include <string>

namespace ostrel::platform {

// The properties of the inbound block rule of one address, as the Windows Firewall takes them:
// the same rule as "netsh advfirewall firewall add rule name=... remoteip=... action=block
// protocol=any dir=in" makes.
struct FirewallRule {
    std::string name;          // the rule name given (Autoblock_<address>)
    std::string remoteAddress; // the address in its one spelling (IPv4-mapped IPv6 as IPv4)
    long protocol = 0;         // NET_FW_IP_PROTOCOL_ANY
    long direction = 0;        // NET_FW_RULE_DIR_IN
    long action = 0;           // NET_FW_ACTION_BLOCK
    long profiles = 0;         // NET_FW_PROFILE2_ALL
    bool enabled = false;
};

// The rule for an address; nullopt for anything that is not an IPv4 or IPv6 literal or is a
// loopback address, and for an empty rule name: nothing else may reach the firewall.
std::optional<FirewallRule> blockRuleFor(const std::string& ruleName, const std::string& address);

// The address a rule of the program's own stands for, read from its name; nullopt for a rule of
// anyone else or a name whose rest is no address.
std::optional<std::string> addressOfRuleName(const std::string& ruleName);

} // namespace ostrel::platform
