#pragma once

#include "platform/QueuedFirewallCommand.h"
#include "platform/linux/NftablesScript.h"
#include "platform/platform.h"

#include <string>
#include <vector>

namespace ostrel::platform {

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
