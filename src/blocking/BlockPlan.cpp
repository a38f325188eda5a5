#include "blocking/BlockPlan.h"

#include "blocking/BlockTexts.h"
#include "common/Errors.h"
#include "common/Operator.h"
#include "config/AllowList.h"
#include "db/Connection.h"
#include "db/SqlLists.h"
#include "db/Tables.h"
#include "platform/InterfaceAddresses.h"
#include "platform/portable/Addresses.h"

#include <limits>
#include <map>
#include <unordered_set>

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

// Refuses what must never become a block, with the line that says why; the address's one text
// when it may be blocked.
std::optional<std::string> blockableAddress(std::vector<std::string>& refusal, const std::string& IP,
                                            const std::unordered_set<std::string>& ownAddresses) {
    const std::optional<std::string> address = platform::canonicalAddress(IP);
    if (!address || !platform::isSingleHostAddress(*address)) {
        refusal.push_back(" - Invalid IP address: " + IP + " - not blocked.");
        return std::nullopt;
    }
    if (platform::isLoopbackAddress(*address) || ownAddresses.contains(*address)) {
        refusal.push_back(" - IP " + *address + " is a local address - not blocked.");
        return std::nullopt;
    }
    return address;
}

} // namespace

ScreenedAddresses screened(OperationContext& context, const std::vector<std::string>& IPs) {
    ScreenedAddresses result;
    const std::vector<std::string> own = platform::ownAddresses();
    const std::unordered_set<std::string> ownAddresses(own.begin(), own.end());
    for (const std::string& IP : IPs) {
        PlannedBlock refusal;
        if (onAllowList(context.settings, IP)) {
            refusal.lines.push_back(" - IP " + platform::canonicalAddress(IP).value_or(IP) +
                                    " is on the allow list - not blocked.");
        } else if (std::optional<std::string> address = blockableAddress(refusal.lines, IP, ownAddresses)) {
            result.refusals.emplace_back();
            result.addresses.push_back(std::move(*address));
            continue;
        }
        result.refusals.push_back(std::move(refusal));
        result.addresses.emplace_back();
    }
    return result;
}

PlannedBlock plannedExtension(const std::string& Name, const std::string& IP, std::int32_t MinuteModify) {
    return {PlannedBlock::Kind::Extension,
            IP,
            {" - already listed = several quick attempts = extended block"},
            " - [" + Name + "] IP " + IP + " - Blocktime extendet by " + std::to_string(MinuteModify) + " minutes!",
            {}};
}

PlannedBlock plannedNewBlock(Operator& op, Connection& connection, const std::string& Name, const std::string& IP,
                             std::int32_t MinuteModify, std::int64_t earlierBlocks) {
    const std::int32_t N = checked32(earlierBlocks + 1);
    const std::int32_t D = checked32(std::int64_t{N} * MinuteModify);
    const std::string arguments = addRuleArguments(IP);
    PlannedBlock block{PlannedBlock::Kind::NewBlock, IP, {}, {}, {}};
    if (op.detailLog()) {
        block.lines.push_back(" - Firewall rules will be created ...");
        block.lines.push_back(" - " + arguments);
    }
    block.closing = " - [" + Name + "] IP " + IP + " is blocked for " + std::to_string(D) + " minutes!";
    const std::string revoke =
        MinuteModify == 0 ? NoEndLiteral : "DATE_ADD(NOW(), INTERVAL " + std::to_string(D) + " MINUTE)";
    block.row = "(NOW(), " + revoke + ", " + connection.quote(IP) + ", " +
                connection.quote(" - Counter: " + std::to_string(N) + " - " + Name) + ", " +
                connection.quote("netsh " + arguments) + ", " + connection.quote(Name) + ")";
    return block;
}

std::string writeStatements(const Tables& tables, const std::vector<PlannedBlock>& planned, std::int32_t MinuteModify,
                            Connection& connection) {
    std::vector<std::string> rows;
    std::map<std::string, std::int64_t> extensions; // canonical address -> times extended
    for (const PlannedBlock& block : planned) {
        if (block.kind == PlannedBlock::Kind::NewBlock)
            rows.push_back(block.row);
        else if (block.kind == PlannedBlock::Kind::Extension)
            ++extensions[block.address];
    }
    std::string statements;
    for (const std::string& chunk : joinInChunks(rows))
        statements += "INSERT INTO " + tables.firewall +
                      " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) "
                      "VALUES " +
                      chunk + ";\n";
    std::map<std::int64_t, std::vector<std::string>> byTimes;
    for (const auto& [address, times] : extensions)
        byTimes[MinuteModify == 0 ? 1 : times].push_back(connection.quote(address));
    for (const auto& [times, addresses] : byTimes) {
        // A block that has ended but is not released yet counts from now: the stored end plus the
        // minutes could still lie in the past, and the release of the same pass would free the
        // address that just offended again.
        const std::string interval = "INTERVAL " + std::to_string(times * MinuteModify) + " MINUTE";
        const std::string revoke =
            MinuteModify == 0 ? NoEndLiteral
                              : "GREATEST(DATE_ADD(`revoke`, " + interval + "), DATE_ADD(NOW(), " + interval + "))";
        for (const std::string& chunk : joinInChunks(addresses))
            statements +=
                "UPDATE " + tables.firewall + " SET `revoke` = " + revoke + " WHERE `IP` IN (" + chunk + ");\n";
    }
    return statements;
}

} // namespace ostrel
