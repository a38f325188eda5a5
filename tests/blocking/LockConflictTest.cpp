// A release or an extension that the server picks as the victim of a deadlock is run again and
// succeeds, without a line about it. The other side of each deadlock is another guard on the same
// tables, played by a transaction of the test's own that has written more and so is kept.
#include "blocking/CleanFirewall.h"
#include "blocking/Firewall.h"
#include "blocking/FirewallLock.h"
#include "common/Errors.h"
#include "support/TestContext.h"

#include <chrono>
#include <exception>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

namespace ostrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class LockConflictTest : public ::testing::Test {
protected:
    void SetUp() override {
        OSTREL_REQUIRE_TEST_DB();
        m_tables.emplace();
        m_env = std::make_unique<test::TestContext>(&*m_tables);
    }

    test::TestTables& tables() { return *m_tables; }
    void addBlock(const std::string& address, const std::string& revoke) {
        tables().exec("INSERT INTO " + tables().firewall() +
                      " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), " + revoke + ", \"" +
                      address + "\", ' - Counter: 1 - RDP-Block', 'netsh', 'RDP-Block')");
    }
    std::vector<std::string> addresses(const std::string& sql) {
        std::vector<std::string> values;
        for (ResultSet rows = tables().query(sql); !rows.eof(); rows.next())
            values.push_back(rows.text("IP"));
        return values;
    }
    static std::int64_t deadlocks(Connection& connection) {
        return connection.execute("SHOW GLOBAL STATUS LIKE 'Innodb_deadlocks'").integer("Value");
    }
    // A transaction of another guard that has written many rows: the server rolls back the
    // lighter side of a deadlock, which is then the operation under test.
    Connection heavyTransaction() {
        Connection other = tables().connect();
        other.execute("START TRANSACTION");
        std::string rows;
        for (int i = 0; i < 200; ++i)
            rows += std::string(i ? ", " : "") + "('198.51.100.200', NOW())";
        other.execute("INSERT INTO " + tables().merkliste() + " (`IP`, `Zeitstempel`) VALUES " + rows);
        return other;
    }
    // Waits until a statement of another connection on the active-block table has run for a while:
    // it waits for a row lock then. (The server's lock tables lag behind the waits they show.)
    bool someoneWaits() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (tables().scalar("SELECT COUNT(*) AS value FROM information_schema.PROCESSLIST WHERE ID <> "
                                "CONNECTION_ID() AND TIME_MS > 100 AND INFO LIKE '%" +
                                tables().firewall() + "%'") > 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    // Runs `work` on a thread of its own while `other`, holding a row that `work` needs, runs
    // `next`, which needs a row that `work` holds by then, and commits: a deadlock. Raises what
    // either side raised; false (and nothing raised) when `work` never waited for `other`.
    template <typename Work> bool deadlockAgainst(Connection& other, const std::string& next, Work work) {
        std::thread thread;
        std::exception_ptr failure;
        runInThread(work, thread, failure);
        const bool waited = someoneWaits();
        std::exception_ptr otherFailure;
        try {
            other.execute(next);
            other.execute("COMMIT");
        } catch (...) {
            otherFailure = std::current_exception();
        }
        thread.join();
        if (!waited)
            return false;
        if (otherFailure)
            std::rethrow_exception(otherFailure);
        if (failure)
            std::rethrow_exception(failure);
        return true;
    }
    template <typename Work> void runInThread(Work work, std::thread& thread, std::exception_ptr& failure) {
        thread = std::thread([work, &failure] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
        });
    }

    std::optional<test::TestTables> m_tables;
    std::unique_ptr<test::TestContext> m_env;
};

// The release has locked the first expired row and waits for the second, which another guard
// extends; that guard then extends the first one too.
TEST_F(LockConflictTest, ReleaseChosenAsDeadlockVictimIsRunAgain) {
    addBlock("203.0.113.1", "DATE_SUB(NOW(), INTERVAL 3 MINUTE)");
    addBlock("203.0.113.2", "DATE_SUB(NOW(), INTERVAL 2 MINUTE)");
    addBlock("203.0.113.3", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    Connection other = heavyTransaction();
    const std::int64_t before = deadlocks(other);
    const std::string extend =
        "UPDATE " + tables().firewall() + " SET `revoke` = DATE_ADD(`revoke`, INTERVAL 120 MINUTE) WHERE ID = ";
    other.execute(extend + "2");

    ASSERT_TRUE(deadlockAgainst(other, extend + "1", [&] { CleanFirewall(m_env->context); }))
        << "the release never waited for the other guard";
    EXPECT_GT(deadlocks(other), before) << "no deadlock happened";
    EXPECT_THAT(addresses("SELECT IP FROM " + tables().firewall() + " ORDER BY ID"),
                ElementsAre("203.0.113.1", "203.0.113.2"));
    EXPECT_THAT(addresses("SELECT IP FROM " + tables().history()), ElementsAre("203.0.113.3"));
    EXPECT_THAT(m_env->op.lines(), IsEmpty());
}

// The extension has locked the first row of its address and waits for the second, which another
// guard's release deletes; that release then deletes the first one too. The extension, run
// again, finds the block gone and blocks anew, and says only that.
TEST_F(LockConflictTest, ExtensionChosenAsDeadlockVictimIsRunAgain) {
    addBlock("203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    addBlock("203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    const std::int64_t first = tables().scalar("SELECT MIN(ID) AS value FROM " + tables().firewall());
    Connection other = heavyTransaction();
    const std::int64_t before = deadlocks(other);
    const std::string release = "DELETE FROM " + tables().firewall() + " WHERE ID IN (";
    other.execute(release + std::to_string(first + 1) + ")");

    ASSERT_TRUE(deadlockAgainst(other, release + std::to_string(first) + ")", [&] {
        Firewall(m_env->context, "RDP-Block", "203.0.113.7", 120);
    })) << "the extension never waited for the other guard";
    EXPECT_GT(deadlocks(other), before) << "no deadlock happened";
    EXPECT_THAT(m_env->op.lines(), ElementsAre(" - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!"));
    EXPECT_THAT(addresses("SELECT IP FROM " + tables().firewall()), ElementsAre("203.0.113.7"));
}

// Another guard's release reaches the block while the extension has counted it: the count locked
// the row, so the release waits, and then finds the block extended instead of taking it away.
TEST_F(LockConflictTest, AnotherGuardsReleaseWaitsForAnExtensionUnderWay) {
    addBlock("203.0.113.7", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    test::TestContext otherGuard(&tables());
    std::thread releaser;
    std::exception_ptr failure;
    bool waited = false;
    m_env->context.firewallLock->observeSteps([&](FirewallLock::Step step) {
        if (step != FirewallLock::Step::BlockCounted)
            return;
        runInThread([&] { CleanFirewall(otherGuard.context); }, releaser, failure);
        waited = someoneWaits();
    });
    Firewall(m_env->context, "RDP-Block", "203.0.113.7", 120);
    releaser.join();

    ASSERT_TRUE(waited) << "the release never waited for the extension";
    if (failure)
        std::rethrow_exception(failure);
    EXPECT_THAT(m_env->op.lines(), ElementsAre(" - already listed = several quick attempts = extended block",
                                               " - [RDP-Block] IP 203.0.113.7 - Blocktime extendet by 120 minutes!"));
    EXPECT_EQ(tables().scalar("SELECT `revoke` BETWEEN DATE_ADD(NOW(), INTERVAL 119 MINUTE) AND DATE_ADD(NOW(), "
                              "INTERVAL 120 MINUTE) AS value FROM " +
                              tables().firewall()),
              1)
        << "the block had ended: extended by 120 minutes from now";
    EXPECT_THAT(addresses("SELECT IP FROM " + tables().history()), IsEmpty());
    EXPECT_THAT(otherGuard.recordingFirewall.changes(), IsEmpty());
    EXPECT_THAT(m_env->recordingFirewall.changes(),
                ElementsAre(test::RecordingFirewallCommand::Change{true, "Autoblock_203.0.113.7", "203.0.113.7"}));
}

// Two guards on one table block the same new address at the same moment: the second one's write
// waits for the first one's count, the server breaks the deadlock that follows, and the one run
// again finds the other's block and extends it. One block, not two.
TEST_F(LockConflictTest, TwoGuardsBlockingOneNewAddressAtOnceMakeOneBlock) {
    test::TestContext otherGuard(&tables());
    std::thread other;
    std::exception_ptr otherFailure;
    bool waited = false;
    m_env->context.firewallLock->observeSteps([&](FirewallLock::Step step) {
        if (step != FirewallLock::Step::BlockCounted || other.joinable())
            return;
        runInThread([&] { Firewall(otherGuard.context, "RDP-Block", "203.0.113.7", 120); }, other, otherFailure);
        waited = someoneWaits();
    });
    Firewall(m_env->context, "RDP-Block", "203.0.113.7", 120);
    other.join();

    ASSERT_TRUE(waited) << "the other guard's block never waited";
    if (otherFailure)
        std::rethrow_exception(otherFailure);
    EXPECT_THAT(addresses("SELECT IP FROM " + tables().firewall()), ElementsAre("203.0.113.7"));
    std::vector<std::string> closing;
    for (const auto* op : {&m_env->op, &otherGuard.op})
        for (const std::string& line : op->lines())
            if (line.starts_with(" - [RDP-Block]"))
                closing.push_back(line);
    EXPECT_THAT(closing,
                ::testing::UnorderedElementsAre(" - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!",
                                                " - [RDP-Block] IP 203.0.113.7 - Blocktime extendet by 120 minutes!"));
}

} // namespace
} // namespace ostrel
