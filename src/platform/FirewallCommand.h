#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {
class Operator;
}

namespace ostrel::platform {

// The rules of the program's own carry this prefix followed by the address.
inline constexpr const char* RuleNamePrefix = "Autoblock_";

// Adds and deletes inbound block rules. Calls queue the change and return at once; the
// changes are carried out in order, and a change that fails is logged to the operator's
// main pane naming the addresses it could not change. Addresses must be IPv4 or IPv6
// literals; anything else is refused before it reaches the firewall.
class FirewallCommand {
public:
    virtual ~FirewallCommand() = default;
    virtual void addRule(const std::string& ruleName, const std::string& address) = 0;
    virtual void deleteRule(const std::string& ruleName, const std::string& address) = 0;
    // Waits until every change queued so far has been carried out.
    virtual void drain() = 0;
    // The addresses that hold a rule of the program's own now, after the changes queued so far
    // were applied, in the spelling of canonicalAddress. Raises when the firewall cannot be read.
    // A command may answer from its own record of its changes (see HeldAddressRecord) instead of
    // reading the firewall each time.
    virtual std::vector<std::string> blockedAddresses() = 0;
    // After the changes queued so far were applied: a number that changes whenever the answer of
    // blockedAddresses() may change, or nullopt when blockedAddresses() would read the firewall
    // (the command keeps no record, or its record cannot answer now). Lets the reconcile after a
    // pass tell that the firewall is as it left it without asking for every address.
    virtual std::optional<std::uint64_t> heldAddressesVersion() { return std::nullopt; }
};

// How long a firewall command answers blockedAddresses() from its own record of its changes
// before it reads the firewall again (see HeldAddressRecord).
struct FirewallRecordTiming {
    std::chrono::milliseconds verificationInterval = std::chrono::seconds(60); // 0 reads every time
    std::function<std::chrono::steady_clock::time_point()> clock;              // empty: steady_clock::now
};

// The platform's own firewall as the program uses it (Linux: nftables with the default
// options). Changes that fail are logged through `op`.
std::unique_ptr<FirewallCommand> makeFirewallCommand(Operator& op);

} // namespace ostrel::platform
