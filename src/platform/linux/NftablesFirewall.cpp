#include "platform/linux/NftablesFirewall.h"

#include "common/Errors.h"
#include "common/Operator.h"
#include "platform/linux/ChildProcess.h"

#include <algorithm>
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

// A refused text is shown, not trusted: control characters would break the log line.
std::string printable(const std::string& text) {
    std::string shown = text.substr(0, 100);
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7f; }, '?');
    return shown;
}

const char* verbOf(RuleChangeKind kind) {
    return kind == RuleChangeKind::Add ? "add" : "delete";
}

} // namespace

NftablesFirewall::NftablesFirewall(Operator& op, NftablesOptions options, FirewallRecordTiming timing)
    : m_op(op), m_options(std::move(options)), m_commandLine(nftCommandLine(m_options, {"-f", "-"})),
      m_listCommandLine(nftCommandLine(m_options, {"-j", "list", "table", "inet", m_options.table})),
      m_record(std::move(timing)) {
    if (!isNftIdentifier(m_options.table))
        throw EInvalidIdentifier("Not a usable nftables table name: '" + printable(m_options.table) + "'");
    const NftRun setUp = runScript(setUpScript(m_options.table));
    if (!setUp.succeeded)
        logLine(m_op,
                " - Firewall: could not set up the nftables table inet " + m_options.table + " (" + setUp.error + ")");
    m_worker = std::thread([this] { work(); });
}

NftablesFirewall::~NftablesFirewall() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_worker.join();
}

void NftablesFirewall::addRule(const std::string& ruleName, const std::string& address) {
    queue(RuleChangeKind::Add, ruleName, address);
}

void NftablesFirewall::deleteRule(const std::string& ruleName, const std::string& address) {
    queue(RuleChangeKind::Delete, ruleName, address);
}

void NftablesFirewall::drain() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t target = m_queuedCount;
    m_applied.wait(lock, [&] { return m_appliedCount >= target; });
}

std::vector<std::string> NftablesFirewall::blockedAddresses() {
    drain();
    return m_record.addressesOrRead([this] { return listTable(); });
}

std::optional<std::uint64_t> NftablesFirewall::heldAddressesVersion() {
    drain();
    return m_record.version();
}

std::vector<std::string> NftablesFirewall::listTable() const {
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

void NftablesFirewall::queue(RuleChangeKind kind, const std::string& ruleName, const std::string& address) {
    auto literal = parseIpLiteral(address);
    const char* refusal = !literal                        ? "not an IP address"
                          : isLoopbackAddress(address)    ? "loopback address"
                          : !isSingleHostAddress(address) ? "not a single host"
                                                          : nullptr;
    if (refusal) {
        logLine(m_op, std::string(" - Firewall: refused to ") + verbOf(kind) + " '" + printable(address) + "' (" +
                          refusal + ")");
        return;
    }
    RuleChange change{kind, std::move(*literal), kind == RuleChangeKind::Add ? elementComment(ruleName) : "", address};
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(change));
        ++m_queuedCount;
    }
    m_wake.notify_one();
}

void NftablesFirewall::work() {
    std::vector<RuleChange> batch;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || !m_pending.empty(); });
        if (m_pending.empty())
            return;
        batch.clear();
        batch.swap(m_pending); // the emptied vector keeps its capacity for the next changes
        lock.unlock();
        apply(batch);
        lock.lock();
        m_appliedCount += batch.size();
        m_applied.notify_all();
    }
}

void NftablesFirewall::apply(std::span<const RuleChange> batch) {
    try {
        const NftRun whole = runScript(batchScript(m_options.table, batch));
        if (whole.succeeded) {
            applied(batch);
            return;
        }
        if (whole.worthRetrying) {
            // When even the bare set-up fails, nft cannot work here at all (no rights, no
            // nf_tables): one process per change would only repeat that answer.
            const NftRun setUp = runScript(setUpScript(m_options.table));
            if (setUp.succeeded) {
                for (const RuleChange& change : batch) {
                    const NftRun single = runScript(batchScript(m_options.table, {&change, 1}));
                    if (single.succeeded) {
                        applied({&change, 1});
                    } else {
                        m_record.failed();
                        logFailure(change, single.error);
                    }
                }
                return;
            }
        }
        m_record.failed();
        for (const RuleChange& change : batch)
            logFailure(change, whole.error);
    } catch (const std::exception& error) {
        m_record.failed();
        for (const RuleChange& change : batch)
            logFailure(change, error.what());
    }
}

void NftablesFirewall::applied(std::span<const RuleChange> changes) {
    for (const RuleChange& change : changes) {
        // The table may have been set up anew by this batch, after a flush from outside: the
        // record learns that at its next reading.
        const std::optional<std::string> address = canonicalAddress(change.requested);
        if (!address)
            m_record.failed(); // what the record cannot spell, the next reading will
        else if (change.kind == RuleChangeKind::Add)
            m_record.added(*address);
        else
            m_record.removed(*address);
    }
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

void NftablesFirewall::logFailure(const RuleChange& change, const std::string& error) {
    logLine(m_op,
            std::string(" - Firewall: could not ") + verbOf(change.kind) + " " + change.requested + " (" + error + ")");
}

std::unique_ptr<FirewallCommand> makeNftablesFirewall(Operator& op, NftablesOptions options,
                                                      FirewallRecordTiming timing) {
    return std::make_unique<NftablesFirewall>(op, std::move(options), std::move(timing));
}

std::unique_ptr<FirewallCommand> makeFirewallCommand(Operator& op) {
    // Only the program's own table is ever touched.
    return makeNftablesFirewall(op);
}

} // namespace ostrel::platform
