#include "blocking/FirewallChanges.h"

#include "common/Errors.h"
#include "db/Connection.h"
#include "db/Tables.h"

#include <charconv>

namespace ostrel {
namespace {

// Runs a statement on the change table, naming the table when it is missing: without its count
// no guard could tell another's change from none.
ResultSet onChangeTable(Connection& connection, const Tables& tables, const std::string& sql) {
    try {
        return connection.execute(sql);
    } catch (const EDatabaseError&) {
        if (connection.errorNumber() == Connection::NoSuchTable)
            throw EDatabaseError("The table " + tables.firewallchanges +
                                 " is missing: create it from sql/schema.sql. It counts the changes to the active "
                                 "blocks, so that every guard on the table follows them.");
        throw;
    }
}

} // namespace

std::string firewallChangeStatement(const Tables& tables) {
    return "INSERT INTO " + tables.firewallchanges +
           " (`ID`, `Changes`) VALUES (1, 1) ON DUPLICATE KEY UPDATE `Changes` = `Changes` + 1";
}

void countFirewallChange(Connection& connection, const Tables& tables) {
    onChangeTable(connection, tables, firewallChangeStatement(tables));
}

FirewallChangeCount readFirewallChanges(Connection& connection, const Tables& tables) {
    const ResultSet row = onChangeTable(connection, tables,
                                        "SELECT (SELECT `Changes` FROM " + tables.firewallchanges +
                                            " WHERE `ID` = 1) AS changes, NOW() AS now");
    FirewallChangeCount count;
    const std::string changes = row.text("changes"); // empty (NULL) while there is no row
    if (!changes.empty()) {
        const auto [end, error] = std::from_chars(changes.data(), changes.data() + changes.size(), count.changes);
        if (error != std::errc() || end != changes.data() + changes.size())
            throw EDatabaseError("The table " + tables.firewallchanges + " holds the count '" + changes +
                                 "', which is no whole number");
    }
    count.now = row.text("now");
    return count;
}

} // namespace ostrel
