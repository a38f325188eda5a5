#pragma once

#include <cstdint>
#include <optional>

namespace ostrel {

namespace platform {
class FirewallCommand;
}

// What the last reconcile left the firewall agreeing with: the digest of the active rows it
// read and the firewall's version after its changes. While both are unchanged, the firewall
// still holds exactly the active blocks and the reconcile after a pass has nothing to compare.
// Used only under the program's firewall lock.
class FirewallAgreement {
public:
    // The active rows (`revoke` after now) by their IDs: IDs are never reused and a row's
    // address never changes, so equal digests stand for equal sets of active addresses.
    struct Digest {
        std::uint64_t rows = 0;
        std::uint64_t idSum = 0; // modulo 2^64, as the server's sum is read
        std::uint64_t idXor = 0;
        bool operator==(const Digest&) const = default;
    };

    // True when the last agreement was made with this firewall at this version and these rows.
    bool stands(const platform::FirewallCommand& firewall, std::uint64_t version, const Digest& active) const {
        return m_agreed && m_agreed->firewall == &firewall && m_agreed->version == version &&
               m_agreed->active == active;
    }
    void agreed(const platform::FirewallCommand& firewall, std::uint64_t version, const Digest& active) {
        m_agreed = Agreed{&firewall, version, active};
    }
    void forget() { m_agreed.reset(); }

private:
    struct Agreed {
        const platform::FirewallCommand* firewall;
        std::uint64_t version;
        Digest active;
    };
    std::optional<Agreed> m_agreed;
};

} // namespace ostrel
