#include "blocking/CleanFirewall.h"

#include "common/Errors.h"
#include "support/TestContext.h"
#include "support/TestDatabase.h"

#include <chrono>
#include <exception>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace ostrel {
namespace {

using test::RecordingFirewallCommand;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

RecordingFirewallCommand::Change ruleDeleted(const std::string& address) {
    return {false, "Autoblock_" + address, address};
}

class CleanFirewallTest : public ::testing::Test {
protected:
    void SetUp() override {
        OSTREL_REQUIRE_TEST_DB();
        m_tables = std::make_unique<test::TestTables>();
        m_context = std::make_unique<test::TestContext>(m_tables.get());
    }

    test::TestTables& tables() { return *m_tables; }
    test::RecordingOperator& op() { return m_context->op; }
    void release() { CleanFirewall(m_context->context); }

    // An active block; the times are SQL expressions evaluated by the server.
    void addBlock(const std::string& address, const std::string& revoke, const std::string& timestamp = "NOW()") {
        tables().exec("INSERT INTO " + tables().firewall() +
                      " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (" + timestamp + ", " + revoke +
                      ", \"" + address + "\", ' - Counter: 1 - RDP-Block', 'netsh add " + address + "', 'RDP-Block')");
    }
    std::vector<std::string> column(const std::string& sql) {
        std::vector<std::string> values;
        for (ResultSet rows = tables().query(sql); !rows.eof(); rows.next())
            values.push_back(rows.text("v"));
        return values;
    }
    std::vector<std::string> activeAddresses() {
        return column("SELECT IP AS v FROM " + tables().firewall() + " ORDER BY ID");
    }
    std::vector<std::string> historyAddresses() {
        return column("SELECT IP AS v FROM " + tables().history() + " ORDER BY ID");
    }
    std::int64_t rows(const std::string& table) { return tables().scalar("SELECT COUNT(*) AS value FROM " + table); }
    std::vector<RecordingFirewallCommand::Change> changes() { return m_context->recordingFirewall.changes(); }
    void forgetLinesAndChanges() {
        m_context->op.clear();
        m_context->recordingFirewall.clear();
    }

private:
    std::unique_ptr<test::TestTables> m_tables;
    std::unique_ptr<test::TestContext> m_context;
};

TEST_F(CleanFirewallTest, NothingExpiredOnlyPurges) {
    op().setDetailLog(true);
    addBlock("203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");

    release();

    EXPECT_THAT(op().lines(), ElementsAre(" - Clean up the firewall rules ...", " -  Cleaned up!"));
    EXPECT_THAT(op().lines(Pane::Clearlog), IsEmpty());
    EXPECT_THAT(activeAddresses(), ElementsAre("203.0.113.7"));
    EXPECT_THAT(changes(), IsEmpty());
}

TEST_F(CleanFirewallTest, ExpiredBlocksMoveWholeToTheHistoryAndLoseTheirRules) {
    op().setDetailLog(true);
    addBlock("203.0.113.1", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    addBlock("203.0.113.2", "NOW()");
    addBlock("203.0.113.3", "DATE_ADD(NOW(), INTERVAL 1 MINUTE)");
    addBlock("203.0.113.4", "'2099-01-01 00:00:00'");
    addBlock("2001:db8::4", "DATE_ADD(NOW(), INTERVAL 1 DAY)", "DATE_SUB(NOW(), INTERVAL 40 DAY)");
    const std::string copiedColumns = "CONCAT_WS('|', ID, `Timestamp`, `revoke`, IP, Reason, Command, RQ) AS v";
    const auto expiredBefore =
        column("SELECT " + copiedColumns + " FROM " + tables().firewall() + " WHERE ID <= 2 ORDER BY ID");

    release();

    EXPECT_THAT(op().lines(), ElementsAre(" - Clean up the firewall rules ...", " - Entry found! Working ... ",
                                          " - Firewallentry will be deleted ...", " - Entry found! Working ... ",
                                          " - Firewallentry will be deleted ...", " - No more Data. Cleaning up ...",
                                          " -  Cleaned up!"));
    EXPECT_THAT(op().lines(Pane::Clearlog),
                ElementsAre(" - Firewallentry 203.0.113.1 deleted.", " - Firewallentry 203.0.113.2 deleted."));
    EXPECT_THAT(activeAddresses(), ElementsAre("203.0.113.3", "203.0.113.4", "2001:db8::4"));
    EXPECT_EQ(column("SELECT " + copiedColumns + " FROM " + tables().history() + " ORDER BY ID"), expiredBefore);
    EXPECT_THAT(changes(), ElementsAre(ruleDeleted("203.0.113.1"), ruleDeleted("203.0.113.2")));
}

TEST_F(CleanFirewallTest, TwoRowsOfOneAddressAreBothReleased) {
    addBlock("203.0.113.7", "DATE_SUB(NOW(), INTERVAL 2 MINUTE)");
    addBlock("203.0.113.7", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");

    release();

    EXPECT_THAT(activeAddresses(), IsEmpty());
    EXPECT_THAT(historyAddresses(), ElementsAre("203.0.113.7", "203.0.113.7"));
    EXPECT_THAT(changes(), ElementsAre(ruleDeleted("203.0.113.7"), ruleDeleted("203.0.113.7")));
    EXPECT_THAT(op().lines(Pane::Clearlog),
                ElementsAre(" - Firewallentry 203.0.113.7 deleted.", " - Firewallentry 203.0.113.7 deleted."));
}

TEST_F(CleanFirewallTest, AddressThatIsNoIpLiteralIsReleasedWithoutACommand) {
    addBlock("not-an-address", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    release();
    EXPECT_THAT(activeAddresses(), IsEmpty());
    EXPECT_THAT(historyAddresses(), ElementsAre("not-an-address"));
    EXPECT_THAT(changes(), IsEmpty());
    EXPECT_THAT(op().lines(Pane::Clearlog), ElementsAre(" - Firewallentry not-an-address deleted."));
}

TEST_F(CleanFirewallTest, DebugWritesEveryLineButChangesNothing) {
    op().setDebug(true);
    op().setDetailLog(true);
    addBlock("203.0.113.7", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    tables().exec("INSERT INTO " + tables().merkliste() +
                  " (`IP`, `Zeitstempel`) VALUES ('203.0.113.8', DATE_SUB(NOW(), INTERVAL 31 DAY))");
    tables().exec("INSERT INTO " + tables().history() +
                  " (ID, `Timestamp`, `revoke`, IP, Reason, Command, RQ) SELECT * FROM " + tables().firewall());
    tables().exec("UPDATE " + tables().history() + " SET `Timestamp` = DATE_SUB(NOW(), INTERVAL 31 DAY)");

    for (int pass = 1; pass <= 2; ++pass) {
        SCOPED_TRACE(pass);
        op().clear();
        release();
        EXPECT_THAT(op().lines(), ElementsAre(" - Clean up the firewall rules ...", " - Entry found! Working ... ",
                                              " - Firewallentry will be deleted ...",
                                              " - No more Data. Cleaning up ...", " -  Cleaned up!"));
        EXPECT_THAT(op().lines(Pane::Clearlog), ElementsAre(" - Firewallentry 203.0.113.7 deleted."));
    }
    EXPECT_THAT(activeAddresses(), ElementsAre("203.0.113.7"));
    EXPECT_EQ(rows(tables().history()), 1);
    EXPECT_EQ(rows(tables().merkliste()), 1);
    EXPECT_THAT(changes(), IsEmpty());
}

TEST_F(CleanFirewallTest, PurgesTakeWhatIsThirtyDaysOldOrOlderAndNoActiveBlock) {
    struct Row {
        const char* age;
        bool purged;
    };
    const std::vector<Row> ages = {
        {"DATE_SUB(NOW(), INTERVAL 30 DAY)", true},
        {"DATE_SUB(NOW(), INTERVAL 400 DAY)", true},
        {"DATE_ADD(DATE_SUB(NOW(), INTERVAL 30 DAY), INTERVAL 1 MINUTE)", false},
        {"NOW()", false},
    };
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < ages.size(); ++i) {
        const std::string address = "198.51.100." + std::to_string(i + 1);
        tables().exec("INSERT INTO " + tables().merkliste() + " (`IP`, `Zeitstempel`) VALUES ('" + address + "', " +
                      ages[i].age + ")");
        tables().exec("INSERT INTO " + tables().history() +
                      " (ID, `Timestamp`, `revoke`, IP, Reason, Command, RQ) VALUES (" + std::to_string(i + 1) + ", " +
                      ages[i].age + ", NOW(), '" + address + "', 'r', 'c', 'RDP-Block')");
        if (!ages[i].purged)
            kept.push_back(address);
    }
    addBlock("203.0.113.9", "DATE_ADD(NOW(), INTERVAL 1 DAY)", "DATE_SUB(NOW(), INTERVAL 90 DAY)");

    release();

    EXPECT_EQ(column("SELECT IP AS v FROM " + tables().merkliste() + " ORDER BY IP"), kept);
    EXPECT_EQ(column("SELECT IP AS v FROM " + tables().history() + " ORDER BY IP"), kept);
    EXPECT_THAT(activeAddresses(), ElementsAre("203.0.113.9"));
}

TEST_F(CleanFirewallTest, ReleaseOfMoreRowsThanOneStatementTakes) {
    tables().exec("INSERT INTO " + tables().firewall() +
                  " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) SELECT NOW(),"
                  " DATE_SUB(NOW(), INTERVAL 1 MINUTE), CONCAT('198.51.', seq DIV 250, '.', seq MOD 250), 'r', 'c',"
                  " 'RDP-Block' FROM seq_1_to_2001");
    addBlock("203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 DAY)");

    release();

    EXPECT_THAT(activeAddresses(), ElementsAre("203.0.113.7"));
    EXPECT_EQ(rows(tables().history()), 2001);
    EXPECT_EQ(tables().scalar("SELECT COUNT(DISTINCT ID) AS value FROM " + tables().history()), 2001);
    EXPECT_EQ(changes().size(), 2001u);
    EXPECT_EQ(op().lines(Pane::Clearlog).size(), 2001u);
}

TEST_F(CleanFirewallTest, ReleaseThatFailsPartWayLeavesEveryBlockAsItWas) {
    struct Case {
        const char* name;
        std::string table;
        const char* timing;
        const char* condition;
    };
    const std::vector<Case> cases = {
        {"second copy refused", tables().history(), "BEFORE INSERT", "NEW.IP = '203.0.113.2'"},
        {"delete refused after the copies", tables().firewall(), "BEFORE DELETE", "OLD.IP = '203.0.113.3'"},
    };
    const std::string trigger = tables().prefix() + "refuse";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tables().exec("DELETE FROM " + tables().firewall() + ";\nDELETE FROM " + tables().history() + ";");
        forgetLinesAndChanges();
        for (const char* address : {"203.0.113.1", "203.0.113.2", "203.0.113.3"})
            addBlock(address, "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
        tables().exec("INSERT INTO " + tables().merkliste() +
                      " (`IP`, `Zeitstempel`) VALUES ('198.51.100.1', DATE_SUB(NOW(), INTERVAL 31 DAY))");
        tables().exec("CREATE TRIGGER " + trigger + " " + c.timing + " ON " + c.table + " FOR EACH ROW IF " +
                      c.condition + " THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF");

        EXPECT_THROW(release(), EDatabaseError);

        EXPECT_THAT(activeAddresses(), ElementsAre("203.0.113.1", "203.0.113.2", "203.0.113.3"));
        EXPECT_THAT(historyAddresses(), IsEmpty());
        EXPECT_THAT(changes(), IsEmpty()) << "a rule went while its block stays active";
        EXPECT_THAT(op().lines(Pane::Clearlog), IsEmpty());
        EXPECT_EQ(rows(tables().merkliste()), 1) << "the purge ran after a failed release";

        tables().exec("DROP TRIGGER " + trigger);
        release();

        EXPECT_THAT(activeAddresses(), IsEmpty());
        EXPECT_THAT(historyAddresses(), ElementsAre("203.0.113.1", "203.0.113.2", "203.0.113.3"));
        EXPECT_THAT(changes(),
                    ElementsAre(ruleDeleted("203.0.113.1"), ruleDeleted("203.0.113.2"), ruleDeleted("203.0.113.3")));
        EXPECT_EQ(rows(tables().merkliste()), 0);
    }
}

// A release and an extension of the same block exclude each other: a release that meets an
// extension not yet committed waits for it and then leaves the block, now running, alone.
TEST_F(CleanFirewallTest, ExtensionInFlightOutlivesTheReleaseConcurrent) {
    addBlock("203.0.113.7", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    Connection extension = tables().connect();
    extension.execute("START TRANSACTION");
    extension.execute("UPDATE " + tables().firewall() +
                      " SET `revoke` = DATE_ADD(`revoke`, INTERVAL 120 MINUTE) WHERE `IP` = \"203.0.113.7\";");

    std::exception_ptr failure;
    std::thread releaser([&] {
        try {
            release();
        } catch (...) {
            failure = std::current_exception();
        }
    });
    // The release's statement stays in the process list only while it waits for the row.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool waiting = false;
    while (!waiting && std::chrono::steady_clock::now() < deadline)
        waiting = tables().scalar("SELECT COUNT(*) AS value FROM information_schema.PROCESSLIST WHERE ID <>"
                                  " CONNECTION_ID() AND INFO LIKE '%" +
                                  tables().firewall() + "%'") > 0;
    extension.execute("COMMIT");
    releaser.join();

    ASSERT_TRUE(waiting) << "the release never waited for the extension";
    if (failure)
        std::rethrow_exception(failure);
    EXPECT_THAT(activeAddresses(), ElementsAre("203.0.113.7"));
    EXPECT_THAT(historyAddresses(), IsEmpty());
    EXPECT_THAT(changes(), IsEmpty());
    EXPECT_THAT(op().lines(Pane::Clearlog), IsEmpty());
}

TEST_F(CleanFirewallTest, FailedPurgeKeepsTheReleaseThatRanBeforeIt) {
    addBlock("203.0.113.7", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    tables().exec("INSERT INTO " + tables().history() +
                  " (ID, `Timestamp`, `revoke`, IP, Reason, Command, RQ) VALUES (99, DATE_SUB(NOW(), INTERVAL 31 DAY),"
                  " NOW(), '198.51.100.1', 'r', 'c', 'RDP-Block')");
    tables().exec("DROP TABLE " + tables().merkliste());

    EXPECT_THROW(release(), EDatabaseError);

    EXPECT_THAT(activeAddresses(), IsEmpty());
    EXPECT_THAT(historyAddresses(), ElementsAre("203.0.113.7", "198.51.100.1"));
    EXPECT_THAT(changes(), ElementsAre(ruleDeleted("203.0.113.7")));
}

} // namespace
} // namespace ostrel
