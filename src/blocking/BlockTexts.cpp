#include "blocking/BlockTexts.h"

#include "platform/FirewallCommand.h"

namespace ostrel {

std::string ruleName(const std::string& address) {
    return platform::RuleNamePrefix + address;
}

std::string addRuleArguments(const std::string& address) {
    return "advfirewall firewall add rule name=\"" + ruleName(address) + "\" remoteip=\"" + address +
           "\" action=block protocol=any dir=in";
}

std::string deleteRuleArguments(const std::string& address) {
    return "advfirewall firewall delete rule name=\"" + ruleName(address) + "\" dir=in";
}

} // namespace ostrel
