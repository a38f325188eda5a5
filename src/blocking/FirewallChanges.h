#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace ostrel {

class Connection;
struct Tables;

// The statement that counts one change to the active blocks: every block, extension and release
// runs it in the same transaction as its change. Its first run creates the table's one row.
std::string firewallChangeStatement(const Tables& tables);

// Runs work whose statements read or write the change table: when the table is missing, the
// EDatabaseError names it and says how to create it instead of giving the server's words.
void namingMissingChangeTable(const Tables& tables, const std::function<void()>& work);

// Runs firewallChangeStatement, naming a missing table.
void countFirewallChange(Connection& connection, const Tables& tables);

// The change count and the server's clock, read in one statement.
struct FirewallChangeCount {
    std::uint64_t changes = 0; // 0 before the first change
    std::string now;           // NOW() as the server writes a DATETIME: "YYYY-MM-DD HH:MM:SS"
};

// Reads the count, naming a missing table.
FirewallChangeCount readFirewallChanges(Connection& connection, const Tables& tables);

} // namespace ostrel
