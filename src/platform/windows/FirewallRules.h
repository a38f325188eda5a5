#pragma once

#include "platform/windows/FirewallRule.h"
#include "platform/windows/WindowsApi.h"

#include <netfw.h>
#include <optional>
#include <string>
#include <vector>
#include <wrl/client.h>

namespace ostrel::platform {

// The rule collection of the Windows Firewall, reached through INetFwPolicy2 on the calling
// thread, whose COM must be initialised. Every failure raises EOleException with the HRESULT.
class FirewallRules {
public:
    FirewallRules();
    FirewallRules(const FirewallRules&) = delete;
    FirewallRules& operator=(const FirewallRules&) = delete;

    // Adds the rule unless a rule of its name blocks its address already (blocksAsWanted); a
    // rule of the name that does not (disabled, another address) is removed first.
    void add(const FirewallRule& rule);
    // Removes every rule of the name; none there is no failure.
    void remove(const std::string& ruleName);
    bool contains(const std::string& ruleName);
    // What the first rule of the name holds; nullopt when there is none.
    std::optional<ExistingRule> find(const std::string& ruleName);
    // The names of all rules.
    std::vector<std::string> names();

private:
    Microsoft::WRL::ComPtr<INetFwRules> m_rules;
};

} // namespace ostrel::platform
