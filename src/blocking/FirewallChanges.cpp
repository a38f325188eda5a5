#include "blocking/FirewallChanges.h"

#include "common/Errors.h"
#include "db/Connection.h"
#include "db/Tables.h"

#include <charconv>

namespace ostrel {

std::string firewallChangeStatement(const Tables& tables) {
    return "INSERT INTO " + tables.firewallchanges +
           " (`ID`, `Changes`) VALUES (1, 1) ON DUPLICATE KEY UPDATE `Changes` = `Changes` + 1";
}

void namingMissingChangeTable(const Tables& tables, const std::function<void()>& work) {
    try {
        work();
    } catch (const EDatabaseError& error) {
        // The server names the missing table as 'database.table'; another table's absence keeps
        // its own error.
        const bool missing = error.serverError() == Connection::NoSuchTable &&
                             std::string(error.what()).find("." + tables.firewallchanges + "'") != std::string::npos;
        if (!missing)
            throw;
        // Without its count no guard could tell another's change from none.
        throw EDatabaseError("The table " + tables.firewallchanges +
                                 " is missing: create it from sql/schema.sql. It counts the changes to the active "
                                 "blocks, so that every guard on the table follows them.",
                             Connection::NoSuchTable);
    }
}

void countFirewallChange(Connection& connection, const Tables& tables) {
    namingMissingChangeTable(tables, [&] { connection.execute(firewallChangeStatement(tables)); });
}

FirewallChangeCount readFirewallChanges(Connection& connection, const Tables& tables) {
    ResultSet row;
    namingMissingChangeTable(tables, [&] {
        row = connection.execute("SELECT (SELECT `Changes` FROM " + tables.firewallchanges +
                                 " WHERE `ID` = 1) AS changes, NOW() AS now");
    });
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
