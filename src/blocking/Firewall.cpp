#include "blocking/Firewall.h"

#include "blocking/AbuseReport.h"
#include "blocking/BlockPlan.h"
#include "blocking/BlockTexts.h"
#include "blocking/FirewallChanges.h"
#include "blocking/FirewallLock.h"
#include "common/Errors.h"
#include "common/Operator.h"
#include "db/Connection.h"
#include "db/ConnectionCache.h"
#include "db/LockConflictRetry.h"
#include "db/SqlLists.h"
#include "db/SqlTransaction.h"
#include "db/Tables.h"
#include "platform/FirewallCommand.h"
#include "platform/portable/Addresses.h"
#include "settings/Settings.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ostrel {

namespace {

// The addresses' rows among the active blocks, or in the history, by address.
using CountsByAddress = std::unordered_map<std::string, std::int64_t>;

// The rows come back in their stored spelling, which the collation matched to the asked text
// ("2001:DB8::5" for "2001:db8::5"): they count for the address in its one text.
CountsByAddress countsByAddress(ResultSet rows) {
    CountsByAddress counts;
    for (; !rows.eof(); rows.next()) {
        const std::string stored = rows.text("IP");
        counts[platform::canonicalAddress(stored).value_or(stored)] += rows.integer("n");
    }
    return counts;
}

std::string countStatement(const std::string& table, const std::string& quotedAddresses) {
    return "SELECT IP, COUNT(ID) AS n FROM " + table + " WHERE IP IN (" + quotedAddresses + ") GROUP BY IP";
}

// The history's rows of the addresses, or the error that kept them from being read: only a new
// block needs them, so an extension must not fail on them.
struct HistoryCounts {
    CountsByAddress counts;
    std::exception_ptr failure;

    std::int64_t of(const std::string& address) const {
        if (failure)
            std::rethrow_exception(failure);
        const auto found = counts.find(address);
        return found == counts.end() ? 0 : found->second;
    }
};

HistoryCounts historyCounts(Connection& connection, const Tables& tables, const std::string& quotedAddresses) {
    try {
        return {countsByAddress(connection.execute(countStatement(tables.firewall_history, quotedAddresses))), {}};
    } catch (const EDatabaseError&) {
        return {{}, std::current_exception()};
    }
}

// The outcome of the table's part: the plan of every address handled, in the order given, and
// the error that stopped the plan at the address after them.
struct RecordedBlocks {
    std::vector<PlannedBlock> planned;
    std::exception_ptr failure;
};

// One transaction: counts the addresses' blocks, locking their active rows so that no release
// takes them before the extension lands, plans each address and, unless Debug, writes the rows
// together with the caller's statements and commits. Runs again as a whole after a lock conflict.
RecordedBlocks recordBlocks(OperationContext& context, Connection& connection, const Tables& tables,
                            const std::string& Name, const std::vector<std::string>& IPs,
                            const ScreenedAddresses& screen, std::int32_t MinuteModify,
                            const AlongsideBlocks& alongside) {
    Operator& op = context.op;
    std::vector<std::string> quoted;
    std::unordered_set<std::string> distinct;
    for (const std::string& address : screen.addresses)
        if (!address.empty() && distinct.insert(address).second)
            quoted.push_back(connection.quote(address));

    // The count locks the rows it finds and, for an address without any, the gap where its row
    // would go: another guard blocking the same address at the same moment waits (or, in a
    // deadlock, runs again) and then extends this block instead of making a second one. The
    // server's own isolation level is kept: read committed would not lock the gaps, and a server
    // that logs statements for replication refuses its writes.
    SqlTransaction transaction(connection);
    CountsByAddress active;
    HistoryCounts history;
    if (!quoted.empty()) {
        const std::string addresses = joinInChunks(quoted, quoted.size()).front();
        active = countsByAddress(connection.execute(countStatement(tables.firewall, addresses) + " FOR UPDATE"));
        context.firewallLock->reached(FirewallLock::Step::BlockCounted);
        history = historyCounts(connection, tables, addresses);
    }

    RecordedBlocks recorded;
    std::unordered_set<std::string> planned; // an address given twice is extended the second time
    for (std::size_t i = 0; i < IPs.size(); ++i) {
        if (screen.refusals[i]) {
            recorded.planned.push_back(*screen.refusals[i]);
            continue;
        }
        const std::string& address = screen.addresses[i];
        try {
            if (active.contains(address) || planned.contains(address))
                recorded.planned.push_back(plannedExtension(Name, address, MinuteModify));
            else
                recorded.planned.push_back(
                    plannedNewBlock(op, connection, Name, address, MinuteModify, history.of(address)));
            planned.insert(address);
        } catch (const Error&) {
            recorded.failure = std::current_exception();
            break;
        }
    }
    if (op.debug())
        return recorded; // counted only: the transaction is rolled back

    std::string statements = writeStatements(tables, recorded.planned, MinuteModify, connection);
    const bool changed = !statements.empty();
    if (alongside) {
        const std::vector<std::string> handled(IPs.begin(), IPs.begin() + recorded.planned.size());
        statements += alongside(handled);
    }
    // Counted for the other guards on the table last, so that the count's one row, which every
    // guard's changes take in turn, is held only for the commit.
    if (changed)
        statements += firewallChangeStatement(tables) + ";\n";
    if (!statements.empty())
        namingMissingChangeTable(tables, [&] { transaction.commitWith(statements); });
    return recorded;
}

// The abuse report of a new block, queued after the lock is let go: it runs off this thread
// and writes its result line when it ends.
void reportNewBlock(OperationContext& context, const std::string& IP) {
    if (context.settings.get(&SettingsValues::Report))
        context.abuseReport.enqueue(IP);
    else if (context.op.detailLog())
        logLine(context.op, " - Abuse Report Result: " + context.abuseReport.lastResult());
}

// The block of the screened addresses; `connect` gives the connection once the table is needed.
template <typename Connect>
void blockScreened(OperationContext& context, Connect&& connect, const std::string& Name,
                   const std::vector<std::string>& IPs, const ScreenedAddresses& screen, std::int32_t MinuteModify,
                   const AlongsideBlocks& alongside) {
    RecordedBlocks recorded;
    const bool askTable = alongside || std::any_of(screen.addresses.begin(), screen.addresses.end(),
                                                   [](const std::string& address) { return !address.empty(); });
    if (!askTable) {
        for (const auto& refusal : screen.refusals)
            recorded.planned.push_back(*refusal);
    } else {
        const auto [connection, tables] = connect();
        // The table's part and the rules under the program's firewall lock: a release cannot take
        // a row or a rule between the count and the rule command.
        const auto held = context.firewallLock->hold();
        recorded = retryingLockConflicts(
            [&] { return recordBlocks(context, *connection, tables, Name, IPs, screen, MinuteModify, alongside); });
        if (!context.op.debug()) {
            // The rule follows the row, so a failed write never leaves a rule behind; an extension
            // puts back a rule that was lost while its row stayed (a failed command, a flushed ruleset).
            std::unordered_set<std::string> ruled;
            for (const PlannedBlock& block : recorded.planned)
                if (block.kind != PlannedBlock::Kind::Refused && ruled.insert(block.address).second)
                    context.firewallCommand.addRule(ruleName(block.address), block.address);
        }
    }
    for (const PlannedBlock& block : recorded.planned) {
        for (const std::string& line : block.lines)
            logLine(context.op, line);
        if (block.kind == PlannedBlock::Kind::NewBlock)
            reportNewBlock(context, block.address);
        if (!block.closing.empty())
            logLine(context.op, block.closing);
    }
    if (recorded.failure)
        std::rethrow_exception(recorded.failure);
}

} // namespace

void blockAddresses(OperationContext& context, Connection& connection, const Tables& tables, const std::string& Name,
                    const std::vector<std::string>& IPs, std::int32_t MinuteModify, const AlongsideBlocks& alongside) {
    blockScreened(
        context, [&] { return std::pair<Connection*, const Tables&>(&connection, tables); }, Name, IPs,
        screened(context, IPs), MinuteModify, alongside);
}

void Firewall(OperationContext& context, const std::string& Name, const std::string& IP, std::int32_t MinuteModify) {
    const std::vector<std::string> IPs{IP};
    std::shared_ptr<Connection> lease;
    blockScreened(context,
                  [&] {
                      lease = ConnectionCache::acquire(context.settings);
                      return std::pair<Connection*, Tables>(lease.get(), Tables::fromSettings(context.settings));
                  },
                  Name, IPs, screened(context, IPs), MinuteModify, {});
}

} // namespace ostrel
