#include "blocking/Firewall.h"

#include "blocking/AbuseReport.h"
#include "blocking/FirewallChanges.h"
#include "common/Errors.h"
#include "common/FirewallLock.h"
#include "common/Operator.h"
#include "config/AllowList.h"
#include "config/Settings.h"
#include "db/Connection.h"
#include "db/ConnectionCache.h"
#include "db/LockConflictRetry.h"
#include "db/Tables.h"
#include "platform/platform.h"

#include <limits>
#include <optional>

namespace ostrel {

namespace {

// The end of a block without end, as a literal of the statements.
const std::string NoEndLiteral = std::string("\"") + NoEndRevoke + "\"";

// Block numbers and lengths are 32-bit; a value beyond that fails the block outright.
std::int32_t checked32(std::int64_t value) {
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw EIntOverflow("Integer overflow");
    return static_cast<std::int32_t>(value);
}

// Refuses what must never become a block; the address's one text when it may be blocked.
std::optional<std::string> blockableAddress(Operator& op, const std::string& IP) {
    const std::optional<std::string> address = platform::canonicalAddress(IP);
    if (!address || !platform::isSingleHostAddress(*address)) {
        logLine(op, " - Invalid IP address: " + IP + " - not blocked.");
        return std::nullopt;
    }
    if (platform::isLoopbackAddress(*address) || platform::isOwnAddress(*address)) {
        logLine(op, " - IP " + *address + " is a local address - not blocked.");
        return std::nullopt;
    }
    return address;
}

std::int64_t countOf(Connection& connection, const std::string& table, const std::string& IP) {
    return connection.execute("SELECT COUNT(ID) AS \"Count\" FROM " + table + " WHERE IP = " + connection.quote(IP))
        .integer("Count");
}

// The address's rows among the active blocks and, when it could be read, in the history.
struct BlockCounts {
    std::int64_t active;
    std::optional<std::int64_t> history;
};

// Both counts in one round trip. Should that fail, the active rows are counted alone and the
// history is left to a new block: an extension needs no history, so it must not fail on it.
BlockCounts countsOf(Connection& connection, const Tables& tables, const std::string& IP) {
    const std::string address = connection.quote(IP);
    try {
        const ResultSet counts =
            connection.execute("SELECT (SELECT COUNT(ID) FROM " + tables.firewall + " WHERE IP = " + address +
                               ") AS \"Count\", (SELECT COUNT(ID) FROM " + tables.firewall_history +
                               " WHERE IP = " + address + ") AS \"History\"");
        return {counts.integer("Count"), counts.integer("History")};
    } catch (const EDatabaseError&) {
        return {countOf(connection, tables.firewall, IP), std::nullopt};
    }
}

// The closing text of the extension, or nullopt when the block's rows were gone by the time the
// update ran (another guard on the same table released them after the count).
std::optional<std::string> extend(OperationContext& context, Connection& connection, const Tables& tables,
                                  const std::string& IP, std::int32_t MinuteModify) {
    logLine(context.op, " - already listed = several quick attempts = extended block");
    const std::string revoke =
        MinuteModify == 0 ? NoEndLiteral : "DATE_ADD(`revoke`, INTERVAL " + std::to_string(MinuteModify) + " MINUTE)";
    // The connection reports rows found, not rows changed: a block without end stays one.
    const std::string update = "UPDATE " + tables.firewall + " SET `revoke` = " + revoke +
                               " WHERE `IP` = " + connection.quote(IP) + ";\nSELECT ROW_COUNT() AS \"Count\";";
    if (!context.op.debug()) {
        if (retryingLockConflicts([&] { return connection.execute(update).integer("Count"); }) == 0)
            return std::nullopt;
        retryingLockConflicts([&] { countFirewallChange(connection, tables); });
        // The rule may have been lost while the row stayed (a failed command, a flushed ruleset).
        context.firewallCommand.addRule(ruleName(IP), IP);
    }
    return " - Blocktime extendet by " + std::to_string(MinuteModify) + " minutes!";
}

// `earlierBlocks`: the history's rows of the address when they are known already.
std::string blockAnew(OperationContext& context, Connection& connection, const Tables& tables, const std::string& Name,
                      const std::string& IP, std::int32_t MinuteModify, std::optional<std::int64_t> earlierBlocks) {
    Operator& op = context.op;
    if (op.detailLog())
        logLine(op, " - Firewall rules will be created ...");
    const std::int32_t N =
        checked32((earlierBlocks ? *earlierBlocks : countOf(connection, tables.firewall_history, IP)) + 1);
    const std::string reason = " - Counter: " + std::to_string(N) + " - " + Name;
    const std::string arguments = addRuleArguments(IP);
    if (op.detailLog())
        logLine(op, " - " + arguments);
    const std::int32_t D = checked32(std::int64_t{N} * MinuteModify);
    const std::string revoke =
        MinuteModify == 0 ? NoEndLiteral : "DATE_ADD(NOW(), INTERVAL " + std::to_string(D) + " MINUTE)";
    const std::string insert = "INSERT INTO " + tables.firewall +
                               " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), " + revoke +
                               ", " + connection.quote(IP) + ", " + connection.quote(reason) + ", " +
                               connection.quote("netsh " + arguments) + ", " + connection.quote(Name) + ");";
    if (!op.debug()) {
        retryingLockConflicts([&] { connection.execute(insert); });
        retryingLockConflicts([&] { countFirewallChange(connection, tables); });
        // The rule follows the row, so a failed insert never leaves a rule behind.
        context.firewallCommand.addRule(ruleName(IP), IP);
    }
    return " is blocked for " + std::to_string(D) + " minutes!";
}

struct BlockOutcome {
    bool newBlock = false;
    std::string closing;
};

// The block's work on the table and the firewall, under the program's firewall lock: a release
// cannot take the row or the rule between the count and the rule command.
BlockOutcome recordBlock(OperationContext& context, Connection& connection, const Tables& tables,
                         const std::string& Name, const std::string& IP, std::int32_t MinuteModify) {
    const auto held = context.firewallLock->hold();
    const BlockCounts counts = countsOf(connection, tables, IP);
    context.firewallLock->reached(FirewallLock::Step::BlockCounted);
    if (counts.active > 0) {
        if (std::optional<std::string> closing = extend(context, connection, tables, IP, MinuteModify))
            return {false, std::move(*closing)};
        logLine(context.op, " - block released meanwhile = new block");
        // The release moved the block into the history after the count: it is counted again.
        return {true, blockAnew(context, connection, tables, Name, IP, MinuteModify, std::nullopt)};
    }
    return {true, blockAnew(context, connection, tables, Name, IP, MinuteModify, counts.history)};
}

// The abuse report of a new block, queued after the lock is let go: it runs off this thread
// and writes its result line when it ends.
void reportNewBlock(OperationContext& context, const std::string& IP) {
    if (context.settings.get(&SettingsValues::Report))
        context.abuseReport.enqueue(IP);
    else if (context.op.detailLog())
        logLine(context.op, " - Abuse Report Result: " + context.abuseReport.lastResult());
}

} // namespace

std::string ruleName(const std::string& address) {
    return "Autoblock_" + address;
}

std::string addRuleArguments(const std::string& address) {
    return "advfirewall firewall add rule name=\"" + ruleName(address) + "\" remoteip=\"" + address +
           "\" action=block protocol=any dir=in";
}

std::string deleteRuleArguments(const std::string& address) {
    return "advfirewall firewall delete rule name=\"" + ruleName(address) + "\" dir=in";
}

void Firewall(OperationContext& context, const std::string& Name, const std::string& IP, std::int32_t MinuteModify) {
    if (onAllowList(context.settings, IP)) {
        logLine(context.op,
                " - IP " + platform::canonicalAddress(IP).value_or(IP) + " is on the allow list - not blocked.");
        return;
    }
    const std::optional<std::string> address = blockableAddress(context.op, IP);
    if (!address)
        return;
    const std::shared_ptr<Connection> lease = ConnectionCache::acquire(context.settings);
    Connection& connection = *lease;
    const Tables tables = Tables::fromSettings(context.settings);
    const BlockOutcome outcome = recordBlock(context, connection, tables, Name, *address, MinuteModify);
    if (outcome.newBlock)
        reportNewBlock(context, *address);
    logLine(context.op, " - [" + Name + "] IP " + *address + outcome.closing);
}

} // namespace ostrel
