#pragma once

#include "platform/FirewallCommand.h"
#include "platform/portable/QueuedFirewallCommand.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::platform {

class FirewallRules;

// The Windows Firewall (INetFwPolicy2) as the queued command drives it, from the worker's own
// COM apartment: a block adds one inbound rule, a release removes every rule of that name. A
// change that fails carries the HRESULT and the system's text for it.
class WindowsFirewall final : public FirewallBackend {
public:
    WindowsFirewall();
    ~WindowsFirewall() override;
    WindowsFirewall(const WindowsFirewall&) = delete;
    WindowsFirewall& operator=(const WindowsFirewall&) = delete;

    std::vector<std::optional<std::string>> apply(std::span<const FirewallChange> changes) override;
    // The addresses that hold an Autoblock_ rule. Raises EOleException when the rules cannot be
    // listed.
    std::vector<std::string> list() override;
    void serve(const std::function<void()>& loop) override;

private:
    // The rule collection, made when needed; raises EOleException when it cannot be.
    FirewallRules& rules();

    long m_apartment = 0; // the HRESULT of the worker's CoInitializeEx
    std::unique_ptr<FirewallRules>
        m_rules; // made anew after a failure, so that a firewall service down a moment ago is reached once it runs
};

// The Windows firewall command; tests give it a timing of their own.
std::unique_ptr<FirewallCommand> makeWindowsFirewall(Operator& op, FirewallRecordTiming timing = {});

} // namespace ostrel::platform
