#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>

namespace ostrel {

namespace platform {
class FirewallCommand;
}

// What the last reconcile left the firewall agreeing with: the change count of the active rows
// it read, the earliest end among them and the firewall's version after its changes. While the
// firewall's version and the count are unchanged and that end has not come, the active rows are
// the ones read (only time passed, and no row of them ended), the firewall still holds exactly
// the active blocks and the reconcile after a pass has nothing to compare.
// Used only under the program's firewall lock.
class FirewallAgreement {
public:
    // What the table showed when the active rows were read.
    struct ActiveRows {
        std::uint64_t changes = 0; // the change count, read before the rows
        // The earliest `revoke` among the rows as the server writes a DATETIME, which orders as
        // text; empty when there was none, so no row can end.
        std::string earliestRevoke;
    };

    // True when the last agreement was made with this firewall at this version and this change
    // count, and `now` (the server's clock, in the same form) is still before the earliest end.
    // The allow list counts as well: an address it gains loses its rule at the next reconcile.
    bool stands(const platform::FirewallCommand& firewall, std::uint64_t version, std::uint64_t changes,
                const std::string& now, const std::string& allowList) const {
        return m_agreed && m_agreed->firewall == &firewall && m_agreed->version == version &&
               m_agreed->active.changes == changes && m_agreed->allowList == allowList &&
               (m_agreed->active.earliestRevoke.empty() || now < m_agreed->active.earliestRevoke);
    }
    void agreed(const platform::FirewallCommand& firewall, std::uint64_t version, ActiveRows active,
                std::string allowList) {
        m_agreed = Agreed{&firewall, version, std::move(active), std::move(allowList)};
    }
    void forget() { m_agreed.reset(); }

    // True the first time an allowed address is found among the active blocks: its line is
    // written once, not at every pass while another guard's block of it lasts.
    bool firstAllowedBlock(const std::string& address) { return m_allowedSeen.insert(address).second; }

private:
    struct Agreed {
        const platform::FirewallCommand* firewall;
        std::uint64_t version;
        ActiveRows active;
        std::string allowList; // the setting's text the comparison was made with
    };
    std::optional<Agreed> m_agreed;
    std::unordered_set<std::string> m_allowedSeen;
};

} // namespace ostrel
