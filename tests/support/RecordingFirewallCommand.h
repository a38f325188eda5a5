#pragma once

#include "platform/FirewallCommand.h"
#include "platform/portable/Addresses.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace ostrel::test {

// A firewall command that only records what it was asked to do, for tests that look at
// the database side of an operation, and holds the addresses its changes leave blocked.
// Firewall behaviour itself is tested with nftables inside a namespace.
class RecordingFirewallCommand : public platform::FirewallCommand {
public:
    struct Change {
        bool add;
        std::string ruleName;
        std::string address;
        bool operator==(const Change&) const = default;
    };

    void addRule(const std::string& ruleName, const std::string& address) override {
        std::lock_guard lock(m_mutex);
        m_changes.push_back({true, ruleName, address});
        if (auto canonical = platform::canonicalAddress(address))
            m_blocked.insert(*canonical);
    }
    void deleteRule(const std::string& ruleName, const std::string& address) override {
        std::lock_guard lock(m_mutex);
        m_changes.push_back({false, ruleName, address});
        if (auto canonical = platform::canonicalAddress(address))
            m_blocked.erase(*canonical);
    }
    void drain() override {}
    std::vector<std::string> blockedAddresses() override {
        std::lock_guard lock(m_mutex);
        return {m_blocked.begin(), m_blocked.end()};
    }

    std::vector<Change> changes() const {
        std::lock_guard lock(m_mutex);
        return m_changes;
    }
    // Forgets the changes; the addresses they left blocked stay blocked.
    void clear() {
        std::lock_guard lock(m_mutex);
        m_changes.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Change> m_changes;
    std::set<std::string> m_blocked;
};

} // namespace ostrel::test
