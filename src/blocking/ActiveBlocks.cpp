#include "blocking/ActiveBlocks.h"

#include "db/Connection.h"
#include "db/TableConnection.h"
#include "db/Tables.h"
#include "platform/FirewallCommand.h"
#include "platform/portable/Addresses.h"

#include <charconv>
#include <set>

namespace ostrel {
namespace {

// The number in " - Counter: N - <reason>", the text a block stores as its reason.
std::optional<std::int64_t> counterIn(const std::string& reason) {
    static const std::string Mark = " - Counter: ";
    const auto at = reason.find(Mark);
    if (at == std::string::npos)
        return std::nullopt;
    const char* first = reason.data() + at + Mark.size();
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(first, reason.data() + reason.size(), value);
    if (error != std::errc() || end == first)
        return std::nullopt;
    return value;
}

} // namespace

std::vector<ActiveBlock> activeBlocks(OperationContext& context) {
    const TableConnection access(context.settings);
    const Tables& tables = access.tables();
    ResultSet rows =
        access.connection().execute("SELECT ID, IP, Reason, RQ, `Timestamp` AS since, `revoke` AS until FROM " +
                                    tables.firewall + " ORDER BY `revoke`, ID");
    std::set<std::string> held;
    for (const std::string& address : context.firewallCommand.blockedAddresses())
        if (auto canonical = platform::canonicalAddress(address))
            held.insert(std::move(*canonical));
    std::vector<ActiveBlock> blocks;
    for (; !rows.eof(); rows.next()) {
        ActiveBlock block;
        block.id = rows.integer("ID");
        block.address = rows.text("IP");
        block.reason = rows.text("RQ");
        block.since = rows.text("since");
        block.until = rows.text("until");
        block.number = counterIn(rows.text("Reason"));
        const auto canonical = platform::canonicalAddress(block.address);
        block.heldHere = canonical && held.contains(*canonical);
        blocks.push_back(std::move(block));
    }
    return blocks;
}

} // namespace ostrel
