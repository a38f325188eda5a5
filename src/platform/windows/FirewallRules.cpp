#include "platform/windows/FirewallRules.h"

#include "common/Errors.h"
#include "platform/windows/ComValues.h"
#include "platform/windows/SystemErrors.h"

using Microsoft::WRL::ComPtr;

namespace ostrel::platform {
namespace {

// A name may stand on several rules (netsh makes duplicates when asked twice); removing stops
// after this many, so that a firewall that answers "removed" and keeps the rule cannot hold
// the worker for ever.
constexpr int MostRulesOfOneName = 64;

} // namespace

FirewallRules::FirewallRules() {
    ComPtr<INetFwPolicy2> policy;
    checkCom(::CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwPolicy2),
                                reinterpret_cast<void**>(policy.GetAddressOf())),
             "CoCreateInstance(NetFwPolicy2)");
    checkCom(policy->get_Rules(m_rules.ReleaseAndGetAddressOf()), "INetFwPolicy2::get_Rules");
}

void FirewallRules::add(const FirewallRule& rule) {
    if (const std::optional<ExistingRule> existing = find(rule.name)) {
        if (blocksAsWanted(*existing, rule))
            return;
        // Disabled, edited, or for another address: it blocks nothing of this address, and a
        // second rule of the same name would leave the name's meaning open. Ours replaces it.
        remove(rule.name);
    }
    ComPtr<INetFwRule> made;
    checkCom(::CoCreateInstance(__uuidof(NetFwRule), nullptr, CLSCTX_INPROC_SERVER, __uuidof(INetFwRule),
                                reinterpret_cast<void**>(made.GetAddressOf())),
             "CoCreateInstance(NetFwRule)");
    const Bstr name(rule.name);
    const Bstr remote(rule.remoteAddress);
    checkCom(made->put_Name(name.get()), "INetFwRule::put_Name");
    // The protocol comes first: addresses and ports are checked against it.
    checkCom(made->put_Protocol(rule.protocol), "INetFwRule::put_Protocol");
    checkCom(made->put_RemoteAddresses(remote.get()), "INetFwRule::put_RemoteAddresses");
    checkCom(made->put_Direction(static_cast<NET_FW_RULE_DIRECTION>(rule.direction)), "INetFwRule::put_Direction");
    checkCom(made->put_Action(static_cast<NET_FW_ACTION>(rule.action)), "INetFwRule::put_Action");
    checkCom(made->put_Profiles(rule.profiles), "INetFwRule::put_Profiles");
    checkCom(made->put_Enabled(rule.enabled ? VARIANT_TRUE : VARIANT_FALSE), "INetFwRule::put_Enabled");
    checkCom(m_rules->Add(made.Get()), "INetFwRules::Add");
}

void FirewallRules::remove(const std::string& ruleName) {
    const Bstr name(ruleName);
    int removed = 0;
    do {
        checkCom(m_rules->Remove(name.get()), "INetFwRules::Remove");
    } while (++removed < MostRulesOfOneName && contains(ruleName));
}

std::optional<ExistingRule> FirewallRules::find(const std::string& ruleName) {
    const Bstr name(ruleName);
    ComPtr<INetFwRule> rule;
    if (FAILED(m_rules->Item(name.get(), &rule)) || !rule)
        return std::nullopt;
    ExistingRule existing;
    Bstr remote;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    NET_FW_RULE_DIRECTION direction{};
    NET_FW_ACTION action{};
    checkCom(rule->get_RemoteAddresses(remote.receive()), "INetFwRule::get_RemoteAddresses");
    checkCom(rule->get_Protocol(&existing.protocol), "INetFwRule::get_Protocol");
    checkCom(rule->get_Direction(&direction), "INetFwRule::get_Direction");
    checkCom(rule->get_Action(&action), "INetFwRule::get_Action");
    checkCom(rule->get_Profiles(&existing.profiles), "INetFwRule::get_Profiles");
    checkCom(rule->get_Enabled(&enabled), "INetFwRule::get_Enabled");
    existing.remoteAddresses = remote.get() ? remote.utf8() : std::string();
    existing.direction = direction;
    existing.action = action;
    existing.enabled = enabled != VARIANT_FALSE;
    return existing;
}

bool FirewallRules::contains(const std::string& ruleName) {
    const Bstr name(ruleName);
    ComPtr<INetFwRule> rule;
    // Item fails with "file not found" for a name no rule has; any failure means no rule to see.
    return SUCCEEDED(m_rules->Item(name.get(), &rule)) && rule;
}

std::vector<std::string> FirewallRules::names() {
    ComPtr<IUnknown> enumerator;
    checkCom(m_rules->get__NewEnum(&enumerator), "INetFwRules::get__NewEnum");
    ComPtr<IEnumVARIANT> items;
    checkCom(enumerator.As(&items), "IEnumVARIANT");
    std::vector<std::string> found;
    for (;;) {
        Variant item;
        ULONG fetched = 0;
        if (items->Next(1, item.receive(), &fetched) != S_OK || fetched != 1)
            break;
        if (item.get().vt != VT_DISPATCH || !item.get().pdispVal)
            continue;
        ComPtr<INetFwRule> rule;
        if (FAILED(item.get().pdispVal->QueryInterface(__uuidof(INetFwRule),
                                                       reinterpret_cast<void**>(rule.GetAddressOf()))))
            continue;
        Bstr name;
        if (SUCCEEDED(rule->get_Name(name.receive())))
            found.push_back(name.utf8());
    }
    return found;
}

} // namespace ostrel::platform
