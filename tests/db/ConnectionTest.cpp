#include "db/Connection.h"

#include "common/Errors.h"
#include "db/Tables.h"
#include "settings/Settings.h"
#include "support/TestDatabase.h"

#include <gtest/gtest.h>

namespace ostrel {
namespace {

using test::TestTables;

TEST(Connection, HostileTextsAreStoredExactlyAndNeverExecute) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    Connection connection = tables.connect();
    const std::vector<std::string> hostile = {
        "plain",
        "double \" quote",
        "back\\slash at end\\",
        "single ' quote",
        "\"; DROP TABLE " + tables.firewall() + "; --",
        "line\nbreak\r\nand tab\t",
        "NUL-free but 'mixed' \"both\" \\\" ;",
        "Ümläut ✓",
    };
    for (const std::string& text : hostile)
        connection.execute("INSERT INTO " + tables.merkliste() + " (`IP`, `Zeitstempel`) VALUES (" +
                           connection.quote(text) + ", NOW() );");
    ResultSet rows = connection.execute("SELECT IP FROM " + tables.merkliste() + " ORDER BY ID");
    for (const std::string& text : hostile) {
        ASSERT_FALSE(rows.eof());
        EXPECT_EQ(rows.text("IP"), text);
        rows.next();
    }
    EXPECT_TRUE(rows.eof());
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall()), 0);
}

TEST(Connection, QuotingHoldsWithoutBackslashEscapes) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    Connection connection = tables.connect();
    connection.execute("SET SESSION sql_mode = CONCAT(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
    const std::string text = "a\\\" OR 1=1; -- \"";
    connection.execute("INSERT INTO " + tables.merkliste() + " (`IP`, `Zeitstempel`) VALUES (" +
                       connection.quote(text) + ", NOW() );");
    EXPECT_EQ(connection.execute("SELECT IP FROM " + tables.merkliste()).text("IP"), text);
}

TEST(Connection, MultiStatementTextRunsInOrderAndKeepsFirstRows) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    Connection connection = tables.connect();
    const std::string insert = "INSERT INTO " + tables.merkliste() + " (`IP`, `Zeitstempel`) VALUES ";
    connection.execute(insert + "(\"203.0.113.1\", NOW());\n" + insert + "(\"203.0.113.2\", NOW());\n" +
                       "DELETE FROM " + tables.merkliste() + " WHERE IP = \"203.0.113.1\";");
    ResultSet rows = connection.execute("SELECT IP FROM " + tables.merkliste() + ";\nSELECT 1 AS other;");
    EXPECT_EQ(rows.rowCount(), 1u);
    EXPECT_EQ(rows.text("ip"), "203.0.113.2") << "columns are found without regard to case";
}

TEST(Connection, ResultWithoutRowsReadsEmptyTextAndCountsReadAsNumbers) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    Connection connection = tables.connect();
    ResultSet none = connection.execute("SELECT * FROM " + tables.firewall() + " WHERE `revoke` <= NOW()");
    EXPECT_TRUE(none.eof());
    EXPECT_EQ(none.text("IP"), "");
    ResultSet count = connection.execute("SELECT COUNT(ID) AS \"Count\" FROM " + tables.firewall());
    EXPECT_EQ(count.integer("Count"), 0);
    EXPECT_THROW(count.text("NoSuchColumn"), EDatabaseError);
}

TEST(Connection, FailingStatementRaisesAndEarlierStatementsStay) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    Connection connection = tables.connect();
    const std::string insert = "INSERT INTO " + tables.merkliste() + " (`IP`, `Zeitstempel`) VALUES (\"x\", NOW());";
    EXPECT_THROW(connection.execute(insert + "\nINSERT INTO no_such_table VALUES (1);"), EDatabaseError);
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.merkliste()), 1);
}

TEST(Connection, FarRevokeTimeIsStoredUnchanged) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    Connection connection = tables.connect();
    connection.execute("INSERT INTO " + tables.firewall() +
                       " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), "
                       "\"2099-01-01 00:00:00\", \"203.0.113.9\", \"r\", 'c', \"q\");");
    connection.execute("UPDATE " + tables.firewall() + " SET `revoke` = DATE_ADD(`revoke`, INTERVAL 120 MINUTE)");
    EXPECT_EQ(connection.execute("SELECT `revoke` FROM " + tables.firewall()).text("revoke"), "2099-01-01 02:00:00");
}

TEST(Connection, PortThatIsNoNumberFailsBeforeConnecting) {
    Settings settings;
    // Loopback: a connect tried by mistake fails at once with EDatabaseError and sends nothing off the machine.
    settings.set(&SettingsValues::SQLServer, "127.0.0.1");
    for (const char* port : {"33o6", "", "3306x", "abc", "65536", "94406", "-1", "-65535", "$10000"}) {
        settings.set(&SettingsValues::SQLPort, port);
        try {
            Connection connection(settings);
            ADD_FAILURE() << "port '" << port << "' was accepted";
        } catch (const EConvertError& error) {
            const std::string message = error.what();
            EXPECT_TRUE(message.starts_with("'" + std::string(port) + "' ")) << message;
            EXPECT_TRUE(message.ends_with(" (SQLPort takes a whole number from 0 to 65535)")) << message;
        }
    }
}

TEST(Connection, PortThatWrapsToTheServersPortIsRefused) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    Settings settings;
    tables.applyTo(settings);
    // 65536 above the server's port names the server itself once cut to 16 bits.
    const std::string wrapping = std::to_string(test::TestServer::get().port + 65536);
    settings.set(&SettingsValues::SQLPort, wrapping);
    try {
        Connection connection(settings);
        ADD_FAILURE() << "port " << wrapping << " reached the server";
    } catch (const EConvertError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "'" + wrapping + "' is out of range (SQLPort takes a whole number from 0 to 65535)");
    }
    settings.set(&SettingsValues::SQLPort, std::to_string(test::TestServer::get().port));
    EXPECT_NO_THROW(Connection{settings});
}

TEST(Connection, RefusedLoginRaisesDatabaseError) {
    OSTREL_REQUIRE_TEST_DB();
    ConnectionValues values = TestTables::connectionValues();
    values.password = "wrong";
    EXPECT_THROW(Connection{values}, EDatabaseError);
    values = TestTables::connectionValues();
    values.database = "no_such_database";
    EXPECT_THROW(Connection{values}, EDatabaseError);
}

TEST(Tables, PrefixesFormNamesAndOddCharactersAreRefused) {
    const Tables plain = Tables::fromPrefixes("", "");
    EXPECT_EQ(plain.merkliste, "merkliste");
    EXPECT_EQ(plain.firewall, "firewall");
    EXPECT_EQ(plain.firewall_history, "firewall_history");
    const Tables prefixed = Tables::fromPrefixes("srv1_", "all$");
    EXPECT_EQ(prefixed.merkliste, "srv1_merkliste");
    EXPECT_EQ(prefixed.firewall_history, "all$firewall_history");
    for (const char* bad : {"a b", "x;", "t`", "p-1", "p.q", "ä"})
        EXPECT_THROW(Tables::fromPrefixes(bad, ""), EInvalidIdentifier) << bad;
    EXPECT_THROW(Tables::fromPrefixes("", "h;"), EInvalidIdentifier);
}

TEST(Tables, TwoInstancesShareTheHistoryOnly) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables first;
    TestTables second(first.historyPrefix());
    first.exec("INSERT INTO " + first.merkliste() + " (`IP`, `Zeitstempel`) VALUES (\"203.0.113.5\", NOW())");
    first.exec("INSERT INTO " + first.history() +
               " (ID, `Timestamp`, `revoke`, IP, Reason, Command, RQ) VALUES (1, NOW(), NOW(), \"203.0.113.5\", \"r\", "
               "\"c\", \"q\")");
    EXPECT_EQ(second.scalar("SELECT COUNT(*) AS value FROM " + second.merkliste()), 0);
    EXPECT_EQ(second.scalar("SELECT COUNT(*) AS value FROM " + second.history()), 1);
}

} // namespace
} // namespace ostrel
