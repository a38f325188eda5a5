#include "platform/windows/FirewallRule.h"

#include "platform/FirewallCommand.h"
#include "platform/portable/Addresses.h"
#include "platform/windows/WindowsApi.h"

#include <netfw.h>

namespace ostrel::platform {
namespace {

// NET_FW_IP_PROTOCOL_ANY of the Windows SDK; mingw-w64's icftypes.h names only TCP and UDP.
constexpr long AnyProtocol = 256;

// The one address of a remote-address list that names a single host, as the firewall spells it
// ("203.0.113.5/255.255.255.255", "2001:db8::1/128" or bare); nullopt for anything else.
std::optional<std::string> singleHostOf(const std::string& remote) {
    const std::size_t slash = remote.find('/');
    const std::string host = remote.substr(0, slash);
    const auto literal = parseIpLiteral(host);
    if (!literal)
        return std::nullopt;
    if (slash != std::string::npos) {
        const std::string mask = remote.substr(slash + 1);
        const bool v6 = host.find(':') != std::string::npos;
        const bool single = v6 ? mask == "128" : (mask == "255.255.255.255" || mask == "32");
        if (!single)
            return std::nullopt;
    }
    return literal->text;
}

} // namespace

std::optional<FirewallRule> blockRuleFor(const std::string& ruleName, const std::string& address) {
    const auto literal = parseIpLiteral(address);
    if (ruleName.empty() || !literal || isLoopbackAddress(literal->text))
        return std::nullopt;
    FirewallRule rule;
    rule.name = ruleName;
    rule.remoteAddress = literal->text;
    rule.protocol = AnyProtocol;
    rule.direction = NET_FW_RULE_DIR_IN;
    rule.action = NET_FW_ACTION_BLOCK;
    rule.profiles = NET_FW_PROFILE2_ALL;
    rule.enabled = true;
    return rule;
}

bool blocksAsWanted(const ExistingRule& existing, const FirewallRule& wanted) {
    return existing.enabled && existing.direction == wanted.direction && existing.action == wanted.action &&
           existing.protocol == wanted.protocol && (existing.profiles & wanted.profiles) == wanted.profiles &&
           singleHostOf(existing.remoteAddresses) == wanted.remoteAddress;
}

std::optional<std::string> addressOfRuleName(const std::string& ruleName) {
    const std::string prefix = RuleNamePrefix;
    if (!ruleName.starts_with(prefix))
        return std::nullopt;
    const auto literal = parseIpLiteral(ruleName.substr(prefix.size()));
    if (!literal)
        return std::nullopt;
    return literal->text;
}

} // namespace ostrel::platform
