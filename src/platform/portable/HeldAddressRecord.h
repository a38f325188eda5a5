#pragma once

#include "platform/FirewallCommand.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace ostrel::platform {

// What a firewall command holds, as it knows from its own changes. Reading the firewall itself
// is dear (an `nft -j list table` of 10,000 elements takes 50-200 ms, walking INetFwRules is no
// faster) and the reconcile after every pass needs the answer, so a command reads its firewall
// only when the record cannot answer: before the first reading, after a change that failed (the
// firewall may hold anything then), and once the last reading is older than the verification
// interval, so that a change made from outside (`nft flush ruleset`, a rule deleted by hand) is
// seen within that interval. Safe to use from several threads.
class HeldAddressRecord {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    explicit HeldAddressRecord(FirewallRecordTiming timing);

    // The held addresses while the record can answer, else nullopt: read the firewall.
    std::optional<std::vector<std::string>> addresses() const;
    // A number that changes whenever what addresses() answers may have changed; nullopt while
    // the record cannot answer.
    std::optional<std::uint64_t> version() const;

    // The held addresses: the record's answer while it can give one, else what `read` finds in
    // the firewall, which then becomes the record (readingStarts and readingEnded around it).
    std::vector<std::string> addressesOrRead(const std::function<std::vector<std::string>()>& read);

    // A reading of the firewall: readingStarts() before it, readingEnded() with what it found.
    // The reading becomes the record unless a change was applied or failed meanwhile, since the
    // reading may or may not show that change.
    std::uint64_t readingStarts() const;
    void readingEnded(std::uint64_t reading, const std::vector<std::string>& held);

    // A change the firewall took; addresses in the spelling of canonicalAddress.
    void added(const std::string& address);
    void removed(const std::string& address);
    // A change that failed or may have been applied in part: the record cannot answer until
    // the next reading.
    void failed();

private:
    TimePoint now() const;
    bool answers() const; // with m_mutex held

    const FirewallRecordTiming m_timing;
    mutable std::mutex m_mutex;
    std::unordered_set<std::string> m_held;
    bool m_known = false;
    TimePoint m_readAt;
    std::uint64_t m_version = 0; // counts changes of m_held and m_known
    std::uint64_t m_changes = 0; // counts changes applied or failed, to tell readings that overlapped one
};

} // namespace ostrel::platform
