#include "platform/linux/NftablesFirewall.h"

#include "common/Errors.h"
#include "common/Operator.h"
#include "platform/linux/ChildProcess.h"

#include <cstdlib>
#include <nlohmann/json.hpp>

namespace ostrel::platform {
namespace {

constexpr std::size_t MaxErrorLength = 200;

std::vector<std::string> nftCommandLine(const NftablesOptions& options, const std::vector<std::string>& arguments) {
    std::vector<std::string> line;
    if (!options.netns.empty())
        line = {"ip", "netns", "exec", options.netns};
    const char* searchPath = std::getenv("PATH");
    line.push_back(findProgram(options.nftPath, searchPath ? searchPath : "/usr/bin:/bin"));
    line.insert(line.end(), arguments.begin(), arguments.end());
    return line;
}

// The elements of the program's two sets in `nft -j list table` output, as canonical texts.
std::vector<std::string> elementsOfListing(const std::string& listing, const std::string& table) {
    std::vector<std::string> addresses;
    const nlohmann::json document = nlohmann::json::parse(listing);
    for (const nlohmann::json& item : document.at("nftables")) {
        const auto set = item.find("set");
        if (set == item.end() || set->value("table", "") != table || !set->contains("elem"))
            continue;
        const std::string name = set->value("name", "");
        if (name != BlockedV4Set && name != BlockedV6Set)
            continue;
        for (const nlohmann::json& element : set->at("elem")) {
            // An element with a comment comes as {"elem": {"val": address, "comment": ...}}.
            const nlohmann::json& value = element.is_object() ? element.at("elem").at("val") : element;
            if (!value.is_string())
                continue;
            if (auto address = canonicalAddress(value.get<std::string>()))
                addresses.push_back(std::move(*address));
        }
    }
    return addresses;
}

// nft prefixes its message with the script position ("/dev/stdin:3:1-20: Error: ...") and
// follows it with the offending line; the message alone is what an operator needs.
std::string errorMessageOf(const ProcessOutcome& outcome) {
    std::string_view text = outcome.errors;
    const auto marker = text.find("Error: ");
    if (marker != std::string_view::npos)
        text.remove_prefix(marker + 7);
    text = text.substr(0, text.find('\n'));
    if (text.empty()) {
        return outcome.signal != 0 ? "ended by signal " + std::to_string(outcome.signal)
                                   : "exit status " + std::to_string(outcome.exitCode);
    }
    return std::string(text.substr(0, MaxErrorLength));
}

} // namespace

NftablesFirewall::NftablesFirewall(Operator& op, NftablesOptions options)
    : m_options(std::move(options)), m_commandLine(nftCommandLine(m_options, {"-f", "-"})),
      m_listCommandLine(nftCommandLine(m_options, {"-j", "list", "table", "inet", m_options.table})) {
    if (!isNftIdentifier(m_options.table))
        throw EInvalidIdentifier("Not a usable nftables table name: '" + printable(m_options.table) + "'");
    const NftRun setUp = runScript(setUpScript(m_options.table));
    if (!setUp.succeeded)
        logLine(op,
                " - Firewall: could not set up the nftables table inet " + m_options.table + " (" + setUp.error + ")");
}

std::vector<std::string> NftablesFirewall::list() {
    const ProcessOutcome outcome = runProcess(m_listCommandLine);
    if (!outcome.succeeded()) {
        // A table that is gone (a flushed ruleset, a reboot) holds nothing; the next change
        // sets it up again.
        if (outcome.errors.find("Error: No such file or directory") != std::string::npos)
            return {};
        throw EOSError("Cannot list the nftables table inet " + m_options.table + ": " + errorMessageOf(outcome));
    }
    try {
        return elementsOfListing(outcome.output, m_options.table);
    } catch (const nlohmann::json::exception& error) {
        throw EOSError("Cannot read the listing of the nftables table inet " + m_options.table + ": " + error.what());
    }
}

std::vector<std::optional<std::string>> NftablesFirewall::apply(std::span<const FirewallChange> changes) {
    std::vector<RuleChange> batch;
    batch.reserve(changes.size());
    for (const FirewallChange& change : changes) {
        batch.push_back({change.kind, change.address,
                         change.kind == RuleChangeKind::Add ? elementComment(change.ruleName) : "", change.requested});
    }
    const NftRun whole = runScript(batchScript(m_options.table, batch));
    if (whole.succeeded)
        return std::vector<std::optional<std::string>>(batch.size());
    if (whole.worthRetrying) {
        // When even the bare set-up fails, nft cannot work here at all (no rights, no
        // nf_tables): one process per change would only repeat that answer.
        const NftRun setUp = runScript(setUpScript(m_options.table));
        if (setUp.succeeded) {
            std::vector<std::optional<std::string>> errors;
            for (const RuleChange& change : batch) {
                const NftRun single = runScript(batchScript(m_options.table, {&change, 1}));
                errors.push_back(single.succeeded ? std::nullopt : std::optional<std::string>(single.error));
            }
            return errors;
        }
    }
    return std::vector<std::optional<std::string>>(batch.size(), whole.error);
}

NftablesFirewall::NftRun NftablesFirewall::runScript(const std::string& script) const {
    try {
        const ProcessOutcome outcome = runProcess(m_commandLine, script);
        if (outcome.succeeded())
            return {true, false, {}};
        return {false, true, errorMessageOf(outcome)};
    } catch (const EOSError& error) {
        return {false, false, error.what()};
    }
}

std::unique_ptr<FirewallCommand> makeNftablesFirewall(Operator& op, NftablesOptions options,
                                                      FirewallRecordTiming timing) {
    return std::make_unique<QueuedFirewallCommand>(op, std::make_unique<NftablesFirewall>(op, std::move(options)),
                                                   std::move(timing));
}

} // namespace ostrel::platform
