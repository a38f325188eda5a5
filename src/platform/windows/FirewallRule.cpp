#include "platform/windows/FirewallRule.h"

#include "platform/Addresses.h"
#include "platform/platform.h"
#include "platform/windows/WindowsApi.h"

#include <netfw.h>

namespace ostrel::platform {
namespace {

// NET_FW_IP_PROTOCOL_ANY of the Windows SDK; mingw-w64's icftypes.h names only TCP and UDP.
constexpr long AnyProtocol = 256;

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
