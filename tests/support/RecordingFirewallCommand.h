#pragma once

#include "platform/platform.h"

#include <mutex>
#include <string>
#include <vector>

namespace ostrel::test {

// A firewall command that only records what it was asked to do, for tests that look at
// the database side of an operation. Firewall behaviour itself is tested with nftables
// inside a namespace.
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
    }
    void deleteRule(const std::string& ruleName, const std::string& address) override {
        std::lock_guard lock(m_mutex);
        m_changes.push_back({false, ruleName, address});
    }
    void drain() override {}

    std::vector<Change> changes() const {
        std::lock_guard lock(m_mutex);
        return m_changes;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_changes.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Change> m_changes;
};

} // namespace ostrel::test
