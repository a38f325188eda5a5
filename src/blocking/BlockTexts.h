#pragma once

#include <string>

// The texts a block leaves behind: the rule's name and the firewall command stored with the
// block, and the release time of a block without end. The block operation writes them, the
// release reads them back, so both take them from here.
namespace ostrel {

inline constexpr const char* NoEndRevoke = "2099-01-01 00:00:00";

// "Autoblock_" + address.
std::string ruleName(const std::string& address);
// "advfirewall firewall add rule name=..." for an address.
std::string addRuleArguments(const std::string& address);
// "advfirewall firewall delete rule name=... dir=in" for an address.
std::string deleteRuleArguments(const std::string& address);

} // namespace ostrel
