// The firewall holds exactly the active blocks: re-filled at start, reconciled after every pass,
// and kept by a block and a release of one address whichever comes first. Real nftables inside a
// namespace of the test's own, real tables.
#include "blocking/CleanFirewall.h"
#include "blocking/Firewall.h"
#include "blocking/FirewallLock.h"
#include "blocking/FirewallReconcile.h"
#include "common/Errors.h"
#include "db/ConnectionCache.h"
#include "guard/GuardTimer.h"
#include "platform/EventSource.h"
#include "platform/FirewallCommand.h"
#include "platform/linux/NftablesFirewall.h"
#include "support/NamespaceTest.h"
#include "support/StepGate.h"
#include "support/TestContext.h"
#include "support/linux/NftablesInspection.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace ostrel {
namespace {

using namespace std::chrono_literals;
using test::NetworkNamespace;
using Addresses = std::set<std::string>;

constexpr const char* Table = "rdp_ostrel";
constexpr std::chrono::seconds VerificationInterval{60};

// A channel without new records: the pass then consists of its release and its reconcile.
class SilentSource : public platform::EventSource {
public:
    std::vector<platform::EventRecord> recordsAbove(std::int64_t) override { return {}; }
};

class QuietProgress : public PassProgress {
public:
    void setMaximum(int) override {}
    void stepIt() override {}
    void reset() override {}
};

// Runs work on a thread of its own and keeps what it raised.
class Worker {
public:
    template <typename Work>
    explicit Worker(Work work)
        : m_thread([this, work] {
              try {
                  work();
              } catch (...) {
                  m_failure = std::current_exception();
              }
          }) {}
    ~Worker() {
        if (m_thread.joinable())
            m_thread.join();
    }
    void join() {
        m_thread.join();
        if (m_failure)
            std::rethrow_exception(m_failure);
    }

private:
    std::exception_ptr m_failure;
    std::thread m_thread;
};

class FirewallAgreementTest : public test::NamespaceTest {
protected:
    void SetUp() override {
        OSTREL_REQUIRE_TEST_DB();
        NamespaceTest::SetUp();
        if (IsSkipped())
            return;
        m_tables.emplace();
        m_firewall = platform::makeNftablesFirewall(m_firewallOp, {Table, "nft", m_ns->name()},
                                                    {VerificationInterval, [this] { return m_now; }});
        m_env = std::make_unique<test::TestContext>(&*m_tables, m_firewall.get());
        m_env->settings.set(&SettingsValues::LastRecord, std::string("1"));
    }

    void TearDown() override {
        // The kept connection may carry a server clock that moveServerClock moved.
        ConnectionCache::closeThreadConnection();
    }

    test::TestTables& tables() { return *m_tables; }
    OperationContext& context() { return m_env->context; }
    test::RecordingOperator& op() { return m_env->op; }
    platform::FirewallCommand& firewall() { return *m_firewall; }
    FirewallLock& lock() { return *context().firewallLock; }

    void addBlock(const std::string& address, const std::string& revoke) {
        tables().exec("INSERT INTO " + tables().firewall() +
                      " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), " + revoke + ", \"" +
                      address + "\", ' - Counter: 1 - RDP-Block', 'netsh', 'RDP-Block')");
    }
    void nft(const std::string& command) { m_ns->execChecked({"nft", command}); }
    std::vector<std::string> ruleLines() {
        std::vector<std::string> lines;
        for (const std::string& line : op().lines())
            if (line.find("Firewall rule") != std::string::npos)
                lines.push_back(line);
        return lines;
    }
    bool tableExists() { return m_ns->execChecked({"nft", "list", "tables"}).find(Table) != std::string::npos; }
    // What the sets hold once every queued change is applied.
    Addresses held() {
        firewall().drain();
        Addresses addresses;
        for (const char* set : {"blocked_v4", "blocked_v6"})
            for (const auto& [address, comment] : test::setElements(*m_ns, Table, set))
                addresses.insert(address);
        return addresses;
    }
    Addresses activeRows() {
        Addresses addresses;
        for (ResultSet rows = tables().query("SELECT IP FROM " + tables().firewall() + " WHERE `revoke` > NOW()");
             !rows.eof(); rows.next())
            addresses.insert(rows.text("IP"));
        return addresses;
    }
    // Moves the server's clock ahead for the operations of this thread: they run on the thread's
    // kept connection, whose session clock this sets.
    void moveServerClock(const std::string& interval) {
        ConnectionCache::acquire(context().settings)
            ->execute("SET timestamp = UNIX_TIMESTAMP(DATE_ADD(NOW(), INTERVAL " + interval + "))");
    }
    void pass() {
        SilentSource source;
        QuietProgress progress;
        GuardTimer(context(), source, progress).singlePass();
    }

    std::chrono::steady_clock::time_point m_now; // the clock of the firewall's verification interval
    std::optional<test::TestTables> m_tables;
    test::RecordingOperator m_firewallOp;
    std::unique_ptr<platform::FirewallCommand> m_firewall;
    std::unique_ptr<test::TestContext> m_env;
};

TEST_F(FirewallAgreementTest, StartUpRefillsTheSetsFromTheActiveRows) {
    addBlock("203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    addBlock("2001:db8::7", "\"2099-01-01 00:00:00\"");
    addBlock("::ffff:203.0.113.8", "DATE_ADD(NOW(), INTERVAL 1 HOUR)"); // stored in another spelling
    addBlock("203.0.113.9", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");      // ended: the release's to handle
    addBlock("not-an-address", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    firewall().addRule("Autoblock_203.0.113.7", "203.0.113.7");
    firewall().drain();
    nft("flush ruleset"); // as after a reboot

    reconcileFirewall(context());

    EXPECT_EQ(held(), (Addresses{"2001:db8::7", "203.0.113.7", "203.0.113.8"}));
    EXPECT_EQ(op().lines(), (std::vector<std::string>{
                                " - Firewall rule restored for IP 2001:db8::7",
                                " - Firewall rule restored for IP 203.0.113.7",
                                " - Firewall rule restored for IP 203.0.113.8",
                            }));
    EXPECT_EQ(test::ruleCount(*m_ns, Table, "input"), 2u) << "the drop rules come back with the table";

    op().clear();
    reconcileFirewall(context());
    EXPECT_TRUE(op().lines().empty()) << "a firewall that agrees is left alone";
    EXPECT_TRUE(m_firewallOp.lines().empty());
}

TEST_F(FirewallAgreementTest, APassPutsBackARuleThatFailedAndRemovesOneWithoutBlock) {
    // The table replaced by one with a set of the wrong kind: every change of the block fails.
    nft("delete table inet rdp_ostrel");
    nft("add table inet rdp_ostrel");
    nft("add set inet rdp_ostrel blocked_v4 { type ipv6_addr; }");
    Firewall(context(), "RDP-Block", "203.0.113.7", 120);
    firewall().drain();
    ASSERT_TRUE(m_firewallOp.hasLineContaining(" - Firewall: could not add 203.0.113.7"));
    nft("delete table inet rdp_ostrel");
    firewall().addRule("Autoblock_198.51.100.9", "198.51.100.9"); // a rule without a block
    ASSERT_EQ(held(), (Addresses{"198.51.100.9"}));
    op().clear();

    pass();

    EXPECT_EQ(held(), (Addresses{"203.0.113.7"}));
    EXPECT_EQ(held(), activeRows());
    EXPECT_TRUE(op().hasLine(" - Firewall rule restored for IP 203.0.113.7"));
    EXPECT_TRUE(op().hasLine(" - Firewall rule without block removed for IP 198.51.100.9"));
}

// Between its readings the firewall answers from its own record of its changes, and the table
// from its change count, so a pass costs neither a listing nor the active rows. A change from
// outside that neither of them sees, to the ruleset or to the rows, is mended once the
// verification interval is over.
TEST_F(FirewallAgreementTest, OutsideChangesAreMendedOnceTheVerificationIntervalIsOver) {
    struct Case {
        const char* name;
        std::function<void()> change;
        std::string restored;
    };
    const Case cases[] = {
        {"ruleset flushed", [&] { nft("flush ruleset"); }, "203.0.113.7"},
        // As an operator or a guard that counts no changes would add it.
        {"row inserted by hand", [&] { addBlock("198.51.100.9", "DATE_ADD(NOW(), INTERVAL 1 HOUR)"); }, "198.51.100.9"},
    };
    addBlock("203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    reconcileFirewall(context());
    ASSERT_EQ(held(), (Addresses{"203.0.113.7"}));
    for (const Case& outside : cases) {
        SCOPED_TRACE(outside.name);
        outside.change();
        op().clear();

        m_now += VerificationInterval - 1s;
        pass();
        EXPECT_TRUE(ruleLines().empty()) << "the record and the change count answer until the interval is over";

        m_now += 1s;
        pass();
        EXPECT_EQ(ruleLines(), std::vector<std::string>{" - Firewall rule restored for IP " + outside.restored});
        EXPECT_EQ(held(), activeRows());
        EXPECT_EQ(test::ruleCount(*m_ns, Table, "input"), 2u);
    }
}

// Guards on one table prefix: this guard's firewall follows the other's block, its extension of
// an ended block and its release at its next pass, though neither changed this firewall's record:
// each of them moved the change count.
TEST_F(FirewallAgreementTest, AnotherGuardsBlockExtensionAndReleaseAreFollowedWithinOnePass) {
    addBlock("198.51.100.9", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    pass();
    ASSERT_EQ(held(), (Addresses{"198.51.100.9"}));
    test::TestContext other(&tables()); // its firewall is its own
    op().clear();

    Firewall(other.context, "RDP-Block", "203.0.113.7", 120);
    pass();
    EXPECT_EQ(held(), (Addresses{"198.51.100.9", "203.0.113.7"}));
    EXPECT_EQ(ruleLines(), std::vector<std::string>{" - Firewall rule restored for IP 203.0.113.7"});

    op().clear();
    pass();
    EXPECT_TRUE(ruleLines().empty()) << "nothing changed";

    // A block that has ended and awaits its release, extended by the other guard: its row is
    // active again, which no end this guard has seen tells.
    addBlock("203.0.113.20", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    Firewall(other.context, "Honeypot-Block", "203.0.113.20", 120);
    ASSERT_TRUE(other.op.hasLine(" - [Honeypot-Block] IP 203.0.113.20 - Blocktime extendet by 120 minutes!"));
    pass();
    EXPECT_EQ(held(), (Addresses{"198.51.100.9", "203.0.113.20", "203.0.113.7"}));
    EXPECT_EQ(ruleLines(), std::vector<std::string>{" - Firewall rule restored for IP 203.0.113.20"});

    // Ended by hand, which no guard counts: only the release by the other guard is seen.
    tables().exec("UPDATE " + tables().firewall() +
                  " SET `revoke` = DATE_SUB(NOW(), INTERVAL 1 MINUTE) WHERE IP IN ('203.0.113.7', '203.0.113.20')");
    op().clear();
    CleanFirewall(other.context);
    pass();
    EXPECT_EQ(held(), (Addresses{"198.51.100.9"}));
    EXPECT_EQ(ruleLines(), (std::vector<std::string>{" - Firewall rule without block removed for IP 203.0.113.20",
                                                     " - Firewall rule without block removed for IP 203.0.113.7"}));
    EXPECT_TRUE(m_firewallOp.lines().empty());
}

// Another guard on the same tables blocks an address this guard's operator trusts: it never gets
// a rule here, one it had goes, and the line says so once per address.
TEST_F(FirewallAgreementTest, AnotherGuardsBlockOfAnAllowedAddressGetsNoRuleHere) {
    test::TestContext other(&tables());
    Firewall(other.context, "RDP-Block", "203.0.113.40", 120);
    Firewall(other.context, "Honeypot-Block", "198.51.100.9", 120);
    pass();
    ASSERT_EQ(held(), (Addresses{"198.51.100.9", "203.0.113.40"}));

    const std::string allowedLine = " - IP 203.0.113.40 is on the allow list - not blocked.";
    context().settings.set(&SettingsValues::AllowList, std::string("203.0.113.32/28"));
    op().clear();
    pass();
    EXPECT_EQ(held(), (Addresses{"198.51.100.9"}));
    EXPECT_TRUE(op().hasLine(allowedLine));

    // Extended by the other guard (a counted change) and blocked anew in the range: still no rule.
    Firewall(other.context, "Honeypot-Block", "203.0.113.40", 120);
    Firewall(other.context, "RDP-Block", "203.0.113.41", 120);
    op().clear();
    pass();
    pass();
    EXPECT_EQ(held(), (Addresses{"198.51.100.9"}));
    EXPECT_FALSE(op().hasLine(allowedLine)) << "said once per address";
    const std::vector<std::string> lines = op().lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), " - IP 203.0.113.41 is on the allow list - not blocked."), 1);
    EXPECT_TRUE(ruleLines().empty());

    // Taken off the list: the block is enforced again.
    context().settings.set(&SettingsValues::AllowList, std::string());
    pass();
    EXPECT_EQ(held(), (Addresses{"198.51.100.9", "203.0.113.40", "203.0.113.41"}));
}

// A block whose end has come is no longer active, though no release took its row yet and no
// change was counted: the reconcile removes its rule, as it knows the earliest end it agreed with.
TEST_F(FirewallAgreementTest, ABlockWhoseEndHasComeLosesItsRuleBeforeItsRelease) {
    addBlock("203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    addBlock("198.51.100.9", "DATE_ADD(NOW(), INTERVAL 3 HOUR)");
    reconcileFirewall(context());
    ASSERT_EQ(held(), (Addresses{"198.51.100.9", "203.0.113.7"}));
    op().clear();

    moveServerClock("2 HOUR");
    reconcileFirewall(context());

    EXPECT_EQ(held(), (Addresses{"198.51.100.9"}));
    EXPECT_EQ(ruleLines(), std::vector<std::string>{" - Firewall rule without block removed for IP 203.0.113.7"});
    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().firewall()), 2);
}

// Without the change count no guard could tell another's change from none: a block, a release
// and the reconcile stop with an error that names the table; the block writes no row and the
// release moves none.
TEST_F(FirewallAgreementTest, WithoutTheChangeTableBlocksReleasesAndTheReconcileStopWithAClearError) {
    addBlock("203.0.113.7", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    tables().exec("DROP TABLE " + tables().firewallchanges());
    const std::pair<const char*, std::function<void()>> steps[] = {
        {"block", [&] { Firewall(context(), "RDP-Block", "198.51.100.9", 120); }},
        {"release", [&] { CleanFirewall(context()); }},
        {"reconcile", [&] { reconcileFirewall(context()); }},
    };
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(name);
        try {
            step();
            ADD_FAILURE() << "no error";
        } catch (const EDatabaseError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("The table " + tables().firewallchanges() + " is missing"), std::string::npos)
                << message;
            EXPECT_NE(message.find("sql/schema.sql"), std::string::npos) << message;
        }
    }
    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().firewall() + " WHERE IP = '198.51.100.9'"),
              0);
    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().history()), 0) << "the release moved nothing";
    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().firewall() + " WHERE IP = '203.0.113.7'"), 1);
}

TEST_F(FirewallAgreementTest, AnExtensionPutsBackTheRuleOfItsBlock) {
    addBlock("203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    Firewall(context(), "Honeypot-Block", "203.0.113.7", 120);
    EXPECT_TRUE(op().hasLine(" - [Honeypot-Block] IP 203.0.113.7 - Blocktime extendet by 120 minutes!"));
    EXPECT_EQ(held(), (Addresses{"203.0.113.7"}));
}

TEST_F(FirewallAgreementTest, DebugChangesNothing) {
    addBlock("203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    firewall().addRule("Autoblock_198.51.100.9", "198.51.100.9");
    op().setDebug(true);

    reconcileFirewall(context());
    pass();

    EXPECT_EQ(held(), (Addresses{"198.51.100.9"}));
    EXPECT_FALSE(op().hasLineContaining("Firewall rule"));
}

// A block and a release of one address, each stopped at its critical step while the other is
// started: whichever comes first, the sets hold the address while its row is active.
TEST_F(FirewallAgreementTest, BlockAndReleaseOfOneAddressInBothOrders) {
    struct Order {
        const char* name;
        FirewallLock::Step stoppedAt; // the step at which the first one waits for the second
        bool blockFirst;
        std::string line;
    };
    const Order orders[] = {
        {"release, then block", FirewallLock::Step::ReleaseCommitted, false,
         " - [RDP-Block] IP 203.0.113.7 is blocked for 240 minutes!"},
        {"block, then release", FirewallLock::Step::BlockCounted, true,
         " - [RDP-Block] IP 203.0.113.7 - Blocktime extendet by 120 minutes!"},
    };
    for (const Order& order : orders) {
        SCOPED_TRACE(order.name);
        tables().exec("DELETE FROM " + tables().firewall() + ";\nDELETE FROM " + tables().history() + ";");
        op().clear();
        addBlock("203.0.113.7", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
        firewall().addRule("Autoblock_203.0.113.7", "203.0.113.7");
        ASSERT_EQ(held(), (Addresses{"203.0.113.7"}));

        const auto block = [&] { Firewall(context(), "RDP-Block", "203.0.113.7", 120); };
        const auto release = [&] { CleanFirewall(context()); };
        test::StepGate gate(lock(), order.stoppedAt);
        Worker first(order.blockFirst ? std::function<void()>(block) : std::function<void()>(release));
        ASSERT_TRUE(gate.waitUntilStopped());
        Worker second(order.blockFirst ? std::function<void()>(release) : std::function<void()>(block));
        ASSERT_TRUE(lock().waitForWaiters(1, 20s)) << "the second one did not wait for the first";
        gate.open();
        first.join();
        second.join();

        EXPECT_EQ(activeRows(), (Addresses{"203.0.113.7"}));
        EXPECT_EQ(held(), (Addresses{"203.0.113.7"}));
        EXPECT_TRUE(op().hasLine(order.line));
    }
}

} // namespace
} // namespace ostrel
