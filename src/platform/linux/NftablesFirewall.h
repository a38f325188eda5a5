#pragma once

#include "platform/FirewallCommand.h"
#include "platform/linux/NftablesScript.h"
#include "platform/portable/QueuedFirewallCommand.h"

#include <memory>
#include <string>
#include <vector>

namespace ostrel::platform {

struct NftablesOptions {
    std::string table = "rdp_ostrel"; // table of the program's own (family inet)
    std::string nftPath = "nft";      // resolved through PATH and the sbin folders, never through a shell
    std::string netns;                // when set, nft runs inside this named network namespace (`ip netns exec`)
};

// The Linux firewall command: one nftables table with an IPv4 and an IPv6 set and an input
// chain that drops both; a worker applies queued changes as `nft -f -` batches.
std::unique_ptr<FirewallCommand> makeNftablesFirewall(Operator& op, NftablesOptions options = {},
                                                      FirewallRecordTiming timing = {});

// The firewall on nftables, as the queued command drives it: every batch becomes one
// `nft -f -` run, so thousands of blocks cost one process. A failed batch is retried change
// by change, so that only the changes that still fail are reported as failed.
class NftablesFirewall final : public FirewallBackend {
public:
    // Sets the table up at once; a failure is logged, not raised, because every batch
    // repeats the set-up. Raises EInvalidIdentifier for a table name nft would not take.
    NftablesFirewall(Operator& op, NftablesOptions options);

    std::vector<std::optional<std::string>> apply(std::span<const FirewallChange> changes) override;
    // One `nft -j list table` run.
    std::vector<std::string> list() override;

private:
    struct NftRun {
        bool succeeded = false;
        bool worthRetrying = false; // nft ran and refused; false when it could not run at all
        std::string error;
    };

    NftRun runScript(const std::string& script) const;

    const NftablesOptions m_options;
    const std::vector<std::string> m_commandLine;     // nft -f - (applies a script)
    const std::vector<std::string> m_listCommandLine; // nft -j list table inet <table>
};

} // namespace ostrel::platform
