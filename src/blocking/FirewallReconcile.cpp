#include "blocking/FirewallReconcile.h"

#include "blocking/BlockTexts.h"
#include "blocking/Firewall.h"
#include "blocking/FirewallAgreement.h"
#include "blocking/FirewallChanges.h"
#include "blocking/FirewallLock.h"
#include "common/Operator.h"
#include "config/AllowList.h"
#include "db/Connection.h"
#include "db/TableConnection.h"
#include "db/Tables.h"
#include "platform/FirewallCommand.h"
#include "platform/portable/Addresses.h"
#include "settings/Settings.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <unordered_set>
#include <utility>

namespace ostrel {
namespace {

struct ActiveBlocks {
    FirewallAgreement::ActiveRows rows;
    std::unordered_set<std::string> addresses; // canonical, only those the firewall may hold
};

// The change count first, then the active rows: a change that lands in between is counted after
// the count read here, so it costs one more comparison at the next pass and is never missed. A
// row that no rule could stand for (no address, loopback, no single host) is left to the release.
ActiveBlocks activeBlocks(Connection& connection, const Tables& tables) {
    ActiveBlocks active;
    active.rows.changes = readFirewallChanges(connection, tables).changes;
    for (ResultSet rows = connection.execute("SELECT IP, `revoke` FROM " + tables.firewall + " WHERE `revoke` > NOW()");
         !rows.eof(); rows.next()) {
        std::string revoke = rows.text("revoke");
        if (active.rows.earliestRevoke.empty() || revoke < active.rows.earliestRevoke)
            active.rows.earliestRevoke = std::move(revoke);
        const auto address = platform::canonicalAddress(rows.text("IP"));
        if (address && !platform::isLoopbackAddress(*address) && platform::isSingleHostAddress(*address))
            active.addresses.insert(*address);
    }
    return active;
}

// The addresses of the active blocks that this machine may hold a rule for. Another guard on the
// same tables may have blocked an address this guard's operator trusts: it gets no rule here (and
// loses one it has), said once per address.
std::unordered_set<std::string> enforceable(OperationContext& context, const std::unordered_set<std::string>& active,
                                            const AllowList& allowList) {
    std::unordered_set<std::string> wanted;
    std::vector<std::string> allowed;
    for (const std::string& address : active) {
        if (!allowList.allows(address))
            wanted.insert(address);
        else if (context.firewallAgreement->firstAllowedBlock(address))
            allowed.push_back(address);
    }
    std::sort(allowed.begin(), allowed.end());
    for (const std::string& address : allowed)
        logLine(context.op, " - IP " + address + " is on the allow list - not blocked.");
    return wanted;
}

// Adds what is missing and removes what has no active row, each with one line in `Log`.
void makeAgree(OperationContext& context, const std::unordered_set<std::string>& wanted) {
    Operator& op = context.op;
    platform::FirewallCommand& firewall = context.firewallCommand;
    std::vector<std::string> listed = firewall.blockedAddresses();
    const std::unordered_set<std::string> blocked(std::make_move_iterator(listed.begin()),
                                                  std::make_move_iterator(listed.end()));
    std::vector<std::string> missing;
    for (const std::string& address : wanted)
        if (!blocked.contains(address))
            missing.push_back(address);
    std::sort(missing.begin(), missing.end()); // the log lines in a stable order
    for (const std::string& address : missing) {
        // Another guard on the same table may have blocked this machine's own address.
        if (platform::isOwnAddress(address))
            continue;
        firewall.addRule(ruleName(address), address);
        logLine(op, " - Firewall rule restored for IP " + address);
    }
    std::vector<std::string> unwanted;
    for (const std::string& address : blocked)
        if (!wanted.contains(address))
            unwanted.push_back(address);
    std::sort(unwanted.begin(), unwanted.end());
    for (const std::string& address : unwanted) {
        firewall.deleteRule(ruleName(address), address);
        logLine(op, " - Firewall rule without block removed for IP " + address);
    }
}

} // namespace

void reconcileFirewall(OperationContext& context) {
    if (context.op.debug())
        return;
    const TableConnection access(context.settings);
    Connection& connection = access.connection();
    const Tables& tables = access.tables();
    const auto held = context.firewallLock->hold();
    FirewallAgreement& agreement = *context.firewallAgreement;
    platform::FirewallCommand& firewall = context.firewallCommand;

    // Nothing changed since the last reconcile: neither the firewall nor the active rows, whose
    // every change (this guard's blocks and releases as well as another guard's) moves the change
    // count, and no row read then has ended since. One small query instead of every address. A
    // change the count misses (a row edited by hand) is seen once the firewall's version lapses
    // after its verification interval: the whole comparison runs at least that often.
    const std::string allowText = context.settings.get(&SettingsValues::AllowList);
    if (const std::optional<std::uint64_t> version = firewall.heldAddressesVersion()) {
        const FirewallChangeCount count = readFirewallChanges(connection, tables);
        if (agreement.stands(firewall, *version, count.changes, count.now, allowText))
            return;
    }

    agreement.forget(); // until this comparison has come through
    const ActiveBlocks active = activeBlocks(connection, tables);
    makeAgree(context, enforceable(context, active.addresses, AllowList::parse(allowText)));
    // The version after the changes were applied; none when one failed, so the next pass compares
    // everything again.
    if (const std::optional<std::uint64_t> version = firewall.heldAddressesVersion())
        agreement.agreed(firewall, *version, active.rows, allowText);
}

} // namespace ostrel
