#include "blocking/FirewallReconcile.h"

#include "blocking/Firewall.h"
#include "common/FirewallAgreement.h"
#include "common/FirewallLock.h"
#include "common/Operator.h"
#include "db/Connection.h"
#include "db/ConnectionCache.h"
#include "db/Tables.h"
#include "platform/platform.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <unordered_set>

namespace ostrel {
namespace {

using Digest = FirewallAgreement::Digest;

// A whole number of the server's text, modulo 2^64 as the digest keeps it.
std::uint64_t wrappedNumber(const std::string& text) {
    std::uint64_t number = 0;
    for (const char digit : text)
        if (digit >= '0' && digit <= '9')
            number = number * 10 + static_cast<std::uint64_t>(digit - '0');
    return number;
}

// The digest of the active rows in one pass over the `revoke` index, which holds the IDs too:
// no row is read, so it costs a fraction of reading the addresses.
Digest activeDigest(Connection& connection, const Tables& tables) {
    const ResultSet sums =
        connection.execute("SELECT COUNT(*) AS n, COALESCE(SUM(ID), 0) AS s, COALESCE(BIT_XOR(ID), 0) AS x FROM " +
                           tables.firewall + " WHERE `revoke` > NOW()");
    return {wrappedNumber(sums.text("n")), wrappedNumber(sums.text("s")), wrappedNumber(sums.text("x"))};
}

struct ActiveBlocks {
    Digest digest;                             // of the rows read, as activeDigest would give it
    std::unordered_set<std::string> addresses; // canonical, only those the firewall may hold
};

// The active rows in one statement, so that their digest describes exactly the rows read. A row
// that no rule could stand for (no address, loopback, no single host) is left to the release.
ActiveBlocks activeBlocks(Connection& connection, const Tables& tables) {
    ActiveBlocks active;
    for (ResultSet rows = connection.execute("SELECT ID, IP FROM " + tables.firewall + " WHERE `revoke` > NOW()");
         !rows.eof(); rows.next()) {
        const std::uint64_t id = wrappedNumber(rows.text("ID"));
        ++active.digest.rows;
        active.digest.idSum += id;
        active.digest.idXor ^= id;
        const auto address = platform::canonicalAddress(rows.text("IP"));
        if (address && !platform::isLoopbackAddress(*address) && platform::isSingleHostAddress(*address))
            active.addresses.insert(*address);
    }
    return active;
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
    const std::shared_ptr<Connection> lease = ConnectionCache::acquire(context.settings);
    Connection& connection = *lease;
    const Tables tables = Tables::fromSettings(context.settings);
    const auto held = context.firewallLock->hold();
    FirewallAgreement& agreement = *context.firewallAgreement;
    platform::FirewallCommand& firewall = context.firewallCommand;

    // Nothing changed since the last reconcile, neither the active rows (this guard's blocks and
    // releases change them as well as another guard's) nor the firewall: one cheap query instead
    // of every address. The firewall's version lapses after its verification interval, so the
    // whole comparison still runs that often and mends what the digest cannot see.
    if (const std::optional<std::uint64_t> version = firewall.heldAddressesVersion();
        version && agreement.stands(firewall, *version, activeDigest(connection, tables)))
        return;

    agreement.forget(); // until this comparison has come through
    const ActiveBlocks active = activeBlocks(connection, tables);
    makeAgree(context, active.addresses);
    // The version after the changes were applied; none when one failed, so the next pass compares
    // everything again.
    if (const std::optional<std::uint64_t> version = firewall.heldAddressesVersion())
        agreement.agreed(firewall, *version, active.digest);
}

} // namespace ostrel
