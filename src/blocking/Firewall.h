#pragma once

#include "common/OperationContext.h"

#include <cstdint>
#include <string>

namespace ostrel {

inline constexpr const char* NoEndRevoke = "2099-01-01 00:00:00";

// The block operation: blocks `IP` for `MinuteModify` minutes times its block number
// (0: without end), or extends the active block of the address. Records the block,
// queues the firewall rule and makes the abuse report when `Report` is on. Database
// failures and a 32-bit overflow raise to the caller. An address on the allow list, an
// address that is not an IP literal, or a loopback address, is logged and left alone.
void Firewall(OperationContext& context, const std::string& Name, const std::string& IP, std::int32_t MinuteModify);

// "advfirewall firewall add rule name=..." for an address.
std::string addRuleArguments(const std::string& address);
// "advfirewall firewall delete rule name=... dir=in" for an address.
std::string deleteRuleArguments(const std::string& address);
// "Autoblock_" + address.
std::string ruleName(const std::string& address);

} // namespace ostrel
