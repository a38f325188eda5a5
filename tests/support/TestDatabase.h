#pragma once

#include "db/Connection.h"

#include <string>
#include <vector>

namespace ostrel {
class Settings;
}

namespace ostrel::test {

// The throwaway MariaDB server that scripts/test starts (or scripts/testdb for work by hand).
// Its values come from OSTREL_TEST_DB_{HOST,PORT,USER,PASSWORD,SOCKET,NAME}, or from the file
// .testdb.env in the source tree when those are not set.
struct TestServer {
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
    std::string socket;
    std::string database;

    // Empty optional-like: `configured` is false when no server is known.
    bool configured = false;
    static const TestServer& get();
};

// Skips the current test with a clear message when no test server is configured, unless
// OSTREL_REQUIRE_DB=1 asks for a failure instead (scripts/test sets it).
#define OSTREL_REQUIRE_TEST_DB()                                                                                       \
    do {                                                                                                               \
        if (!::ostrel::test::TestServer::get().configured) {                                                           \
            if (::ostrel::test::requireDatabase())                                                                     \
                FAIL() << "no test database configured (OSTREL_TEST_DB_* unset)";                                      \
            GTEST_SKIP() << "no test database configured: run through scripts/test or start scripts/testdb";           \
        }                                                                                                              \
    } while (0)

bool requireDatabase();

// Every table of sql/schema.sql under a prefix of its own, created for one test from the
// schema's own statements and dropped again when the object goes. Each test sees only its
// own rows.
class TestTables {
public:
    // A fresh unique prefix for the watch list and active blocks; the history prefix is the
    // same unless a shared one is given (to model several instances on one history).
    TestTables();
    explicit TestTables(std::string historyPrefix);
    ~TestTables();
    TestTables(const TestTables&) = delete;
    TestTables& operator=(const TestTables&) = delete;

    const std::string& prefix() const { return m_prefix; }
    const std::string& historyPrefix() const { return m_historyPrefix; }
    std::string merkliste() const { return m_prefix + "merkliste"; }
    std::string firewall() const { return m_prefix + "firewall"; }
    std::string history() const { return m_historyPrefix + "firewall_history"; }
    std::string lastrecord() const { return m_prefix + "lastrecord"; }
    std::string firewallchanges() const { return m_prefix + "firewallchanges"; }

    // The Config.ini lines that reach these tables: server (`host`), port, database, user,
    // password and both prefixes.
    std::vector<std::string> configLines(const std::string& host) const;
    // Fills the connection values and both prefixes of a live settings record.
    void applyTo(Settings& settings) const;
    // Connection over TCP to the test server, or over its unix socket (for threads that
    // sit in another network namespace).
    static ConnectionValues connectionValues();
    Connection connect() const;
    ResultSet query(const std::string& sql) const;
    void exec(const std::string& sql) const;
    // The column "value" of the first row, e.g. "SELECT COUNT(*) AS value FROM ...".
    std::int64_t scalar(const std::string& sql) const;

    // A unique prefix for a test's own use.
    static std::string uniquePrefix();

private:
    void createFromSchema();

    std::string m_prefix;
    std::string m_historyPrefix;
    bool m_ownHistory = true;
    std::vector<std::string> m_created; // dropped again at the end
};

} // namespace ostrel::test
