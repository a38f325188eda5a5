#pragma once

#include "platform/linux/NftablesScript.h"
#include "platform/platform.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::platform {

// The firewall command on nftables. Calls validate the address and queue the change; one
// worker applies everything queued at each wake-up as one `nft -f -` batch, so thousands of
// blocks cost one process. A failed batch is retried change by change, and every change that
// still fails is logged with the address it could not change.
class NftablesFirewall final : public FirewallCommand {
public:
    // Sets the table up at once; a failure is logged, not raised, because every batch
    // repeats the set-up. Raises EInvalidIdentifier for a table name nft would not take.
    NftablesFirewall(Operator& op, NftablesOptions options);
    // Applies what is still queued, then stops the worker.
    ~NftablesFirewall() override;
    NftablesFirewall(const NftablesFirewall&) = delete;
    NftablesFirewall& operator=(const NftablesFirewall&) = delete;

    void addRule(const std::string& ruleName, const std::string& address) override;
    void deleteRule(const std::string& ruleName, const std::string& address) override;
    void drain() override;
    // Lists the table with one `nft -j` run after the queue drained.
    std::vector<std::string> blockedAddresses() override;

private:
    struct NftRun {
        bool succeeded = false;
        bool worthRetrying = false; // nft ran and refused; false when it could not run at all
        std::string error;
    };

    void queue(RuleChangeKind kind, const std::string& ruleName, const std::string& address);
    void work();
    void apply(std::span<const RuleChange> batch);
    NftRun runScript(const std::string& script) const;
    void logFailure(const RuleChange& change, const std::string& error);

    Operator& m_op;
    const NftablesOptions m_options;
    const std::vector<std::string> m_commandLine;     // nft -f - (applies a script)
    const std::vector<std::string> m_listCommandLine; // nft -j list table inet <table>

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_applied;
    std::vector<RuleChange> m_pending;
    std::uint64_t m_queuedCount = 0;
    std::uint64_t m_appliedCount = 0;
    bool m_stopping = false;
    std::thread m_worker; // started by the constructor once the table is set up
};

} // namespace ostrel::platform
