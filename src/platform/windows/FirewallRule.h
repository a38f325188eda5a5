#pragma once

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

// A rule of the firewall as it answers for a name: what decides whether it blocks an address.
struct ExistingRule {
    std::string remoteAddresses; // as the firewall spells them: "203.0.113.5/255.255.255.255"
    long protocol = 0;
    long direction = 0;
    long action = 0;
    long profiles = 0;
    bool enabled = false;
};

// Whether a rule of the wanted rule's name already blocks what the wanted rule would: enabled,
// inbound, blocking every protocol in every profile the wanted one names, for that one address
// and no other. A rule that was disabled, edited or made for another address is none of that.
bool blocksAsWanted(const ExistingRule& existing, const FirewallRule& wanted);

// The address a rule of the program's own stands for, read from its name; nullopt for a rule of
// anyone else or a name whose rest is no address.
std::optional<std::string> addressOfRuleName(const std::string& ruleName);

} // namespace ostrel::platform
