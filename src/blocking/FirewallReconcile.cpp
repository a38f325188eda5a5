#include "blocking/FirewallReconcile.h"

#include "blocking/Firewall.h"
#include "common/FirewallLock.h"
#include "common/Operator.h"
#include "db/Connection.h"
#include "db/Tables.h"
#include "platform/platform.h"

#include <set>
#include <string>

namespace ostrel {
namespace {

// The canonical addresses of the active rows that the firewall may hold. A row that no rule
// could stand for (no address, loopback, no single host) is left to the release.
std::set<std::string> activeAddresses(Connection& connection, const Tables& tables) {
    std::set<std::string> addresses;
    for (ResultSet rows = connection.execute("SELECT DISTINCT IP FROM " + tables.firewall + " WHERE `revoke` > NOW()");
         !rows.eof(); rows.next()) {
        const auto address = platform::canonicalAddress(rows.text("IP"));
        if (address && !platform::isLoopbackAddress(*address) && platform::isSingleHostAddress(*address))
            addresses.insert(*address);
    }
    return addresses;
}

} // namespace

void reconcileFirewall(OperationContext& context) {
    Operator& op = context.op;
    if (op.debug())
        return;
    Connection connection(context.settings);
    const Tables tables = Tables::fromSettings(context.settings);
    const auto held = context.firewallLock->hold();
    const std::set<std::string> wanted = activeAddresses(connection, tables);
    const std::vector<std::string> listed = context.firewallCommand.blockedAddresses();
    const std::set<std::string> blocked(listed.begin(), listed.end());
    for (const std::string& address : wanted) {
        // Another guard on the same table may have blocked this machine's own address.
        if (blocked.contains(address) || platform::isOwnAddress(address))
            continue;
        context.firewallCommand.addRule(ruleName(address), address);
        logLine(op, " - Firewall rule restored for IP " + address);
    }
    for (const std::string& address : blocked) {
        if (wanted.contains(address))
            continue;
        context.firewallCommand.deleteRule(ruleName(address), address);
        logLine(op, " - Firewall rule without block removed for IP " + address);
    }
}

} // namespace ostrel
