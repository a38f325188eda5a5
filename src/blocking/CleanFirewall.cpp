#include "blocking/CleanFirewall.h"

#include "blocking/Firewall.h"
#include "blocking/SqlLists.h"
#include "blocking/SqlTransaction.h"
#include "common/Errors.h"
#include "common/Operator.h"
#include "db/Connection.h"
#include "db/ConnectionCache.h"
#include "db/Tables.h"
#include "platform/platform.h"

#include <charconv>
#include <cstdint>
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
std::vector<ExpiredBlock> lockExpiredBlocks(Connection& connection, const Tables& tables) {
    ResultSet rows = connection.execute("SELECT * FROM " + tables.firewall + " WHERE `revoke` <= NOW() FOR UPDATE");
    std::vector<ExpiredBlock> blocks;
    blocks.reserve(rows.rowCount());
    for (; !rows.eof(); rows.next())
        blocks.push_back({decimalId(rows.text("ID")), rows.text("IP")});
    return blocks;
}

// Copies and deletes exactly the rows that were found, by ID, so a block made meanwhile stays.
void moveToHistory(Connection& connection, const Tables& tables, const std::vector<ExpiredBlock>& blocks) {
    std::vector<std::string> ids;
    ids.reserve(blocks.size());
    for (const ExpiredBlock& block : blocks)
        ids.push_back(block.id);
    for (const std::string& chunk : joinInChunks(ids))
        connection.execute("INSERT INTO " + tables.firewall_history + " SELECT * FROM " + tables.firewall +
                           " WHERE ID IN (" + chunk + ");\nDELETE FROM " + tables.firewall + " WHERE ID IN (" + chunk +
                           ");");
}

// Ends the expired blocks. The rows move to the history in one transaction, and only after it
// committed are the rules deleted and the rows reported, so a failed release leaves every
// block active, with its rule, and copies nothing that a later release would copy again.
void releaseExpired(OperationContext& context, Connection& connection, const Tables& tables) {
    Operator& op = context.op;
    const bool debug = op.debug(); // one release is one unit: the rows and their rules go together
    std::vector<ExpiredBlock> blocks;
    {
        SqlTransaction transaction(connection);
        blocks = lockExpiredBlocks(connection, tables);
        if (blocks.empty())
            return;
        if (!debug) {
            moveToHistory(connection, tables, blocks);
            transaction.commit();
        }
    }
    for (const ExpiredBlock& block : blocks) {
        if (op.detailLog())
            logLine(op, " - Entry found! Working ... ");
        if (op.detailLog())
            logLine(op, " - Firewallentry will be deleted ...");
        if (!debug && platform::isIpLiteral(block.ip))
            context.firewallCommand.deleteRule(ruleName(block.ip), block.ip);
        op.log(Pane::Clearlog, " - Firewallentry " + block.ip + " deleted.");
    }
    if (op.detailLog())
        logLine(op, " - No more Data. Cleaning up ...");
}

} // namespace

void CleanFirewall(OperationContext& context) {
    Operator& op = context.op;
    const std::shared_ptr<Connection> lease = ConnectionCache::acquire(context.settings);
    Connection& connection = *lease;
    const Tables tables = Tables::fromSettings(context.settings);
    if (op.detailLog())
        logLine(op, " - Clean up the firewall rules ...");
    releaseExpired(context, connection, tables);
    if (!op.debug())
        connection.execute("DELETE FROM " + tables.merkliste +
                           " WHERE Zeitstempel <= DATE_SUB(NOW(), INTERVAL 30 DAY);");
    if (!op.debug())
        connection.execute("DELETE FROM " + tables.firewall_history +
                           "  WHERE `Timestamp` <= DATE_SUB(NOW(), INTERVAL 30 DAY);");
    if (op.detailLog())
        logLine(op, " -  Cleaned up!");
}

} // namespace ostrel
