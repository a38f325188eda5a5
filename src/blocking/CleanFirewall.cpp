#include "blocking/CleanFirewall.h"

#include "blocking/BlockTexts.h"
#include "blocking/FirewallChanges.h"
#include "blocking/FirewallLock.h"
#include "common/Errors.h"
#include "common/Operator.h"
#include "db/Connection.h"
#include "db/LockConflictRetry.h"
#include "db/SqlLists.h"
#include "db/SqlTransaction.h"
#include "db/TableConnection.h"
#include "db/Tables.h"
#include "platform/FirewallCommand.h"
#include "platform/portable/Addresses.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ostrel {
namespace {

struct ExpiredBlock {
    std::string id; // decimal digits, checked: it stands bare in the IN lists
    std::string ip;
};

std::string decimalId(const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        throw EDatabaseError("The active block has the ID '" + text + "', which is no whole number");
    return std::to_string(value);
}

// Locks what it returns until the transaction ends: an extension of one of these rows from a
// honeypot thread waits for the release instead of landing between the copy and the delete.
std::vector<ExpiredBlock> lockExpiredBlocks(Connection& connection, const Tables& tables, const std::string& ended) {
    ResultSet rows = connection.execute("SELECT * FROM " + tables.firewall + " WHERE " + ended + " FOR UPDATE");
    std::vector<ExpiredBlock> blocks;
    blocks.reserve(rows.rowCount());
    for (; !rows.eof(); rows.next())
        blocks.push_back({decimalId(rows.text("ID")), rows.text("IP")});
    return blocks;
}

// The columns of a block, named: the history has a key of its own after them.
constexpr const char* BlockColumns = "`ID`, `Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`";

// Copies and deletes exactly the rows that were found, by ID, so a block made meanwhile stays.
void moveToHistory(Connection& connection, const Tables& tables, const std::vector<ExpiredBlock>& blocks) {
    std::vector<std::string> ids;
    ids.reserve(blocks.size());
    for (const ExpiredBlock& block : blocks)
        ids.push_back(block.id);
    for (const std::string& chunk : joinInChunks(ids))
        connection.execute("INSERT INTO " + tables.firewall_history + " (" + BlockColumns + ") SELECT " + BlockColumns +
                           " FROM " + tables.firewall + " WHERE ID IN (" + chunk + ");\nDELETE FROM " +
                           tables.firewall + " WHERE ID IN (" + chunk + ");");
}

// The canonical texts of the released addresses that still have a row: a second block of the
// same address, made by another guard on this table or stored in another spelling, keeps its rule.
std::set<std::string> addressesStillActive(Connection& connection, const Tables& tables,
                                           const std::vector<ExpiredBlock>& blocks) {
    std::vector<std::string> texts;
    for (const ExpiredBlock& block : blocks) {
        texts.push_back(connection.quote(block.ip));
        if (const auto canonical = platform::canonicalAddress(block.ip); canonical && *canonical != block.ip)
            texts.push_back(connection.quote(*canonical));
    }
    std::set<std::string> active;
    for (const std::string& chunk : joinInChunks(texts))
        for (ResultSet rows = connection.execute("SELECT IP FROM " + tables.firewall + " WHERE IP IN (" + chunk + ")");
             !rows.eof(); rows.next())
            if (auto canonical = platform::canonicalAddress(rows.text("IP")))
                active.insert(std::move(*canonical));
    return active;
}

struct Release {
    std::vector<ExpiredBlock> blocks;
    std::set<std::string> stillActive; // canonical addresses whose rule stays
};

// One transaction: finds and locks the expired rows and, unless `debug`, moves them to the
// history, counts the change for the other guards on the table and commits. A failed release
// leaves every block active, with its rule, and copies nothing that a later release would copy
// again.
Release moveExpired(Connection& connection, const Tables& tables, bool debug, const std::string& ended) {
    SqlTransaction transaction(connection);
    Release release{lockExpiredBlocks(connection, tables, ended), {}};
    if (release.blocks.empty() || debug)
        return release;
    moveToHistory(connection, tables, release.blocks);
    countFirewallChange(connection, tables); // with the rows it counts, or not at all
    release.stillActive = addressesStillActive(connection, tables, release.blocks);
    transaction.commit();
    return release;
}

// Ends the expired blocks. The rules are deleted and the rows reported only after the rows left
// the table, and all of it under the program's firewall lock, so a block of the same address made
// at the same time comes wholly before or wholly after the release and keeps its rule.
// The blocks that end now: those whose time has come, or those a caller names (`ended`, a condition
// on the active rows). Returns how many ended.
std::size_t releaseExpired(OperationContext& context, Connection& connection, const Tables& tables,
                           const std::string& ended = "`revoke` <= NOW()") {
    Operator& op = context.op;
    const bool debug = op.debug(); // one release is one unit: the rows and their rules go together
    const auto held = context.firewallLock->hold();
    const Release release = retryingLockConflicts([&] { return moveExpired(connection, tables, debug, ended); });
    if (release.blocks.empty())
        return 0;
    context.firewallLock->reached(FirewallLock::Step::ReleaseCommitted);
    for (const ExpiredBlock& block : release.blocks) {
        if (op.detailLog())
            logLine(op, " - Entry found! Working ... ");
        if (op.detailLog())
            logLine(op, " - Firewallentry will be deleted ...");
        const auto address = platform::canonicalAddress(block.ip);
        if (!debug && address && !release.stillActive.contains(*address))
            context.firewallCommand.deleteRule(ruleName(*address), *address);
        op.log(Pane::Clearlog, " - Firewallentry " + block.ip + " deleted.");
    }
    if (op.detailLog())
        logLine(op, " - No more Data. Cleaning up ...");
    return release.blocks.size();
}

void purge(Connection& connection, const std::string& statement) {
    retryingLockConflicts([&] { connection.execute(statement); });
}

} // namespace

std::size_t releaseBlocksOf(OperationContext& context, const std::string& IP) {
    const std::optional<std::string> address = platform::canonicalAddress(IP);
    if (!address)
        throw Error("'" + IP + "' is no IP address");
    const TableConnection access(context.settings);
    Connection& connection = access.connection();
    const Tables& tables = access.tables();
    // The row may hold the address in the spelling it was blocked under.
    std::string spellings = connection.quote(*address);
    if (IP != *address)
        spellings += ", " + connection.quote(IP);
    return releaseExpired(context, connection, tables, "IP IN (" + spellings + ")");
}

void CleanFirewall(OperationContext& context) {
    Operator& op = context.op;
    const TableConnection access(context.settings);
    Connection& connection = access.connection();
    const Tables& tables = access.tables();
    if (op.detailLog())
        logLine(op, " - Clean up the firewall rules ...");
    releaseExpired(context, connection, tables);
    if (!op.debug())
        purge(connection,
              "DELETE FROM " + tables.merkliste + " WHERE Zeitstempel <= DATE_SUB(NOW(), INTERVAL 30 DAY);");
    if (!op.debug())
        purge(connection,
              "DELETE FROM " + tables.firewall_history + "  WHERE `Timestamp` <= DATE_SUB(NOW(), INTERVAL 30 DAY);");
    if (op.detailLog())
        logLine(op, " -  Cleaned up!");
}

} // namespace ostrel
