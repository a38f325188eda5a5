#include "blocking/Firewall.h"

#include "common/Errors.h"
#include "db/ConnectionCache.h"
#include "db/Tables.h"
#include "platform/InterfaceAddresses.h"
#include "support/HttpTestServer.h"
#include "support/TestContext.h"

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>
#include <thread>

namespace ostrel {
namespace {

using test::RecordingFirewallCommand;
using test::TestContext;
using test::TestTables;

class FirewallTest : public ::testing::Test {
protected:
    void SetUp() override {
        OSTREL_REQUIRE_TEST_DB();
        m_tables.emplace();
        m_env = std::make_unique<TestContext>(&*m_tables);
    }

    TestTables& tables() { return *m_tables; }
    TestContext& env() { return *m_env; }
    OperationContext& context() { return m_env->context; }

    void addHistory(const std::string& ip, int rows) {
        for (int i = 0; i < rows; ++i)
            tables().exec("INSERT INTO " + tables().history() +
                          " (ID, `Timestamp`, `revoke`, IP, Reason, Command, RQ) VALUES (" + std::to_string(i + 1) +
                          ", NOW(), NOW(), \"" + ip + "\", \"r\", \"c\", \"RDP-Block\")");
    }
    void addActive(const std::string& ip, const std::string& revoke) {
        tables().exec("INSERT INTO " + tables().firewall() +
                      " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), " + revoke + ", \"" +
                      ip + "\", \"old reason\", \"old command\", \"RDP-Block\")");
    }
    std::int64_t activeRows() { return tables().scalar("SELECT COUNT(*) AS value FROM " + tables().firewall()); }
    // Minutes between the block's creation and its end, as the server sees them.
    std::int64_t blockMinutes(const std::string& ip) {
        return tables().scalar("SELECT TIMESTAMPDIFF(MINUTE, `Timestamp`, `revoke`) AS value FROM " +
                               tables().firewall() + " WHERE IP = \"" + ip + "\"");
    }
    std::string column(const std::string& ip, const std::string& name) {
        return tables()
            .query("SELECT `" + name + "` FROM " + tables().firewall() + " WHERE IP = \"" + ip + "\"")
            .text(name);
    }
    std::vector<RecordingFirewallCommand::Change> commands() { return env().recordingFirewall.changes(); }

    std::optional<TestTables> m_tables;
    std::unique_ptr<TestContext> m_env;
};

TEST_F(FirewallTest, NewBlockWritesRowRuleAndLines) {
    env().op.setDetailLog(true);
    Firewall(context(), "RDP-Block", "203.0.113.7", 120);

    EXPECT_EQ(blockMinutes("203.0.113.7"), 120);
    EXPECT_EQ(column("203.0.113.7", "Reason"), " - Counter: 1 - RDP-Block");
    EXPECT_EQ(column("203.0.113.7", "RQ"), "RDP-Block");
    const std::string arguments = "advfirewall firewall add rule name=\"Autoblock_203.0.113.7\" "
                                  "remoteip=\"203.0.113.7\" action=block protocol=any dir=in";
    EXPECT_EQ(column("203.0.113.7", "Command"), "netsh " + arguments);
    EXPECT_EQ(column("203.0.113.7", "Command").size(), 98u + 2 * 11) << "98 characters and the address twice";
    EXPECT_EQ(commands(),
              (std::vector<RecordingFirewallCommand::Change>{{true, "Autoblock_203.0.113.7", "203.0.113.7"}}));
    EXPECT_EQ(env().op.lines(), (std::vector<std::string>{
                                    " - Firewall rules will be created ...",
                                    " - " + arguments,
                                    " - Abuse Report Result: ",
                                    " - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!",
                                }));
}

// A report server that holds every request does not hold the blocks: they are all made and
// logged while it still holds them, and each report's result line follows when it ends.
TEST_F(FirewallTest, BlocksDoNotWaitForTheirReports) {
    test::HttpTestServer server([](const test::HttpRequest& request) {
        const std::size_t ip = request.requestLine.find("&IP=") + 4;
        const std::string address = request.requestLine.substr(ip, request.requestLine.find(' ', ip) - ip);
        return std::optional<test::HttpReply>(test::HttpReply{200, "OK", "accepted " + address, {}});
    });
    server.holdReplies();
    env().settings.set(&SettingsValues::Report, true);
    env().settings.set(&SettingsValues::AbuseReportRDPURL, server.baseUrl() + "/r?a=1");
    env().op.setDetailLog(true);
    std::vector<std::string> addresses;
    for (int i = 10; i < 15; ++i)
        addresses.push_back("203.0.113." + std::to_string(i));

    for (const std::string& address : addresses)
        Firewall(context(), "RDP-Block", address, 120);

    EXPECT_EQ(activeRows(), 5);
    EXPECT_EQ(commands().size(), 5u);
    for (const std::string& address : addresses)
        EXPECT_TRUE(env().op.hasLine(" - [RDP-Block] IP " + address + " is blocked for 120 minutes!")) << address;
    EXPECT_FALSE(env().op.hasLineContaining(" - Abuse Result: ")) << "no report has ended";
    EXPECT_FALSE(env().op.hasLineContaining(" - Abuse Report Result: "));
    EXPECT_LE(server.requests().size(), 1u) << "one report at a time";

    server.releaseReplies();
    env().report.finish();

    std::vector<std::string> results;
    for (const std::string& line : env().op.lines())
        if (line.starts_with(" - Abuse Report Result: "))
            results.push_back(line);
    std::vector<std::string> expected;
    for (const std::string& address : addresses)
        expected.push_back(" - Abuse Report Result: accepted " + address);
    EXPECT_EQ(results, expected);
    EXPECT_EQ(server.requests().size(), 5u);
}

TEST_F(FirewallTest, BlockLengthGrowsWithHistory) {
    addHistory("203.0.113.7", 2);
    addHistory("203.0.113.8", 1); // another address's history does not count
    Firewall(context(), "Honeypot-Block", "203.0.113.7", 120);

    EXPECT_EQ(blockMinutes("203.0.113.7"), 360);
    EXPECT_EQ(column("203.0.113.7", "Reason"), " - Counter: 3 - Honeypot-Block");
    EXPECT_EQ(env().op.lines(),
              (std::vector<std::string>{" - [Honeypot-Block] IP 203.0.113.7 is blocked for 360 minutes!"}));
}

TEST_F(FirewallTest, BlockWithoutEnd) {
    addHistory("2001:db8::7", 1);
    Firewall(context(), "RDP-Block", "2001:db8::7", 0);
    EXPECT_EQ(column("2001:db8::7", "revoke"), "2099-01-01 00:00:00");
    EXPECT_EQ(column("2001:db8::7", "Reason"), " - Counter: 2 - RDP-Block");
    EXPECT_TRUE(env().op.hasLine(" - [RDP-Block] IP 2001:db8::7 is blocked for 0 minutes!"));
}

// An extension moves `revoke` and makes sure the rule is there; it writes no reason and makes no report.
TEST_F(FirewallTest, ExtensionMovesRevokeAndRenewsTheRule) {
    struct Case {
        const char* stored;
        int minutes;
        const char* expected; // SQL expression evaluated on the server right after the call
    };
    const Case cases[] = {
        {"\"2030-05-01 10:00:00\"", 120, "\"2030-05-01 12:00:00\""},
        {"\"2030-05-01 10:00:00\"", 0, "\"2099-01-01 00:00:00\""},
        {"\"2099-01-01 00:00:00\"", 120, "\"2099-01-01 02:00:00\""},
        {"\"2030-05-01 10:00:00\"", -60, "\"2030-05-01 09:00:00\""},
        // Ended but not yet released: the new end counts from now, so the release does not free
        // the address that just offended again.
        {"\"2020-01-01 00:00:00\"", 30, "DATE_ADD(NOW(), INTERVAL 30 MINUTE)"},
        {"DATE_SUB(NOW(), INTERVAL 1 MINUTE)", 1, "DATE_ADD(NOW(), INTERVAL 1 MINUTE)"},
        {"NOW()", 30, "DATE_ADD(NOW(), INTERVAL 30 MINUTE)"},
        {"DATE_ADD(NOW(), INTERVAL 10 MINUTE)", 30, "DATE_ADD(NOW(), INTERVAL 40 MINUTE)"},
        {"\"2020-01-01 00:00:00\"", 0, "\"2099-01-01 00:00:00\""},
        {"NOW()", 0, "\"2099-01-01 00:00:00\""},
    };
    for (const Case& c : cases) {
        TestTables own;
        TestContext local(&own);
        local.settings.set(&SettingsValues::Report, true); // an extension never reports
        own.exec("INSERT INTO " + own.firewall() +
                 " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), " + c.stored +
                 ", \"203.0.113.7\", \"old reason\", \"old command\", \"RDP-Block\")");
        Firewall(local.context, "Honeypot-Block", "203.0.113.7", c.minutes);

        SCOPED_TRACE(std::string(c.stored) + " + " + std::to_string(c.minutes));
        // Within two seconds: the server's clock may tick between the call and this query.
        EXPECT_EQ(own.scalar("SELECT ABS(TIMESTAMPDIFF(SECOND, `revoke`, " + std::string(c.expected) +
                             ")) <= 2 AS value FROM " + own.firewall()),
                  1)
            << own.query("SELECT `revoke` FROM " + own.firewall()).text("revoke");
        EXPECT_EQ(own.query("SELECT Reason FROM " + own.firewall()).text("Reason"), "old reason");
        EXPECT_EQ(local.recordingFirewall.changes(),
                  (std::vector<RecordingFirewallCommand::Change>{{true, "Autoblock_203.0.113.7", "203.0.113.7"}}));
        EXPECT_EQ(local.op.lines(), (std::vector<std::string>{
                                        " - already listed = several quick attempts = extended block",
                                        " - [Honeypot-Block] IP 203.0.113.7 - Blocktime extendet by " +
                                            std::to_string(c.minutes) + " minutes!",
                                    }));
    }
}

TEST_F(FirewallTest, DebugCountsButWritesNothing) {
    env().op.setDebug(true);
    env().op.setDetailLog(true);
    addHistory("203.0.113.7", 1);
    Firewall(context(), "RDP-Block", "203.0.113.7", 120);
    EXPECT_EQ(activeRows(), 0);
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(env().op.hasLine(" - [RDP-Block] IP 203.0.113.7 is blocked for 240 minutes!"))
        << "the history count ran";

    addActive("203.0.113.8", "\"2030-05-01 10:00:00\"");
    Firewall(context(), "RDP-Block", "203.0.113.8", 120);
    EXPECT_EQ(column("203.0.113.8", "revoke"), "2030-05-01 10:00:00");
    EXPECT_TRUE(env().op.hasLine(" - [RDP-Block] IP 203.0.113.8 - Blocktime extendet by 120 minutes!"));

    // The counts need the tables: a missing table fails even in Debug.
    tables().exec("DROP TABLE " + tables().history());
    EXPECT_THROW(Firewall(context(), "RDP-Block", "203.0.113.9", 120), EDatabaseError);
}

TEST_F(FirewallTest, OverflowFailsBeforeAnyInsert) {
    addHistory("203.0.113.7", 1);
    EXPECT_THROW(Firewall(context(), "RDP-Block", "203.0.113.7", INT_MAX), EIntOverflow);
    EXPECT_THROW(Firewall(context(), "RDP-Block", "203.0.113.7", INT_MIN), EIntOverflow);
    EXPECT_EQ(activeRows(), 0);
    EXPECT_TRUE(commands().empty());
    // The same length fits for a first block.
    Firewall(context(), "RDP-Block", "203.0.113.8", INT_MAX / 2);
    EXPECT_EQ(activeRows(), 1);
}

TEST_F(FirewallTest, AddressesThatMustNotBecomeBlocks) {
    std::vector<std::pair<std::string, std::string>> cases = {
        {"not-an-address", " - Invalid IP address: not-an-address - not blocked."},
        {"203.0.113.7\"; DROP TABLE x; --", " - Invalid IP address: 203.0.113.7\"; DROP TABLE x; -- - not blocked."},
        {"", " - Invalid IP address:  - not blocked."},
        {"203.0.113.7 x", " - Invalid IP address: 203.0.113.7 x - not blocked."},
        // Addresses of no single host: a rule for them blocks nobody, or everybody.
        {"0.0.0.0", " - Invalid IP address: 0.0.0.0 - not blocked."},
        {"::", " - Invalid IP address: :: - not blocked."},
        {"::ffff:0.0.0.0", " - Invalid IP address: ::ffff:0.0.0.0 - not blocked."},
        {"255.255.255.255", " - Invalid IP address: 255.255.255.255 - not blocked."},
        {"224.0.0.1", " - Invalid IP address: 224.0.0.1 - not blocked."},
        {"239.255.255.250", " - Invalid IP address: 239.255.255.250 - not blocked."},
        {"ff02::1", " - Invalid IP address: ff02::1 - not blocked."},
        {" 127.0.0.1 ", " - IP 127.0.0.1 is a local address - not blocked."},
        {"127.0.0.1", " - IP 127.0.0.1 is a local address - not blocked."},
        {"127.8.9.10", " - IP 127.8.9.10 is a local address - not blocked."},
        {"::1", " - IP ::1 is a local address - not blocked."},
    };
    // The machine's own address is as local as loopback: a block would cut it off from itself.
    if (const std::string own = platform::AdapterIPAddress(); !own.empty())
        cases.push_back({own, " - IP " + own + " is a local address - not blocked."});
    env().settings.set(&SettingsValues::Report, true);
    for (const auto& [address, line] : cases) {
        env().op.clear();
        Firewall(context(), "RDP-Block", address, 120);
        EXPECT_EQ(env().op.lines(), std::vector<std::string>{line}) << address;
    }
    EXPECT_EQ(activeRows(), 0);
    EXPECT_TRUE(commands().empty());
}

// Every spelling of an address is one address: one row in its one text, then extensions of it,
// and every rule command names that text.
TEST_F(FirewallTest, EverySpellingOfAnAddressIsStoredAndBlockedAsOne) {
    struct Case {
        std::string canonical;
        std::vector<std::string> spellings; // in the order they arrive
    };
    const std::vector<Case> cases = {
        {"203.0.113.9", {"::ffff:203.0.113.9", "203.0.113.9", "203.0.113.9 ", " 203.000.113.009", "::FFFF:cb00:7109"}},
        {"2001:db8::5", {"2001:0DB8:0:0::5", "2001:db8::5", "2001:DB8:0:0:0:0:0:5", "\t2001:db8::5 "}},
    };
    // Each spelling blocked by itself, then all of them in one batch, as the scan blocks.
    for (const bool batch : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(c.canonical + (batch ? " in one batch" : " one by one"));
            if (batch && &c == cases.data())
                tables().exec("DELETE FROM " + tables().firewall());
            env().op.clear();
            env().recordingFirewall.clear();
            if (batch) {
                const std::shared_ptr<Connection> connection = ConnectionCache::acquire(env().settings);
                blockAddresses(context(), *connection, Tables::fromSettings(env().settings), "Honeypot-Block",
                               c.spellings, 60);
            } else {
                for (const std::string& spelling : c.spellings)
                    Firewall(context(), "Honeypot-Block", spelling, 60);
            }

            EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().firewall() + " WHERE BINARY IP = \"" +
                                      c.canonical + "\""),
                      1);
            EXPECT_EQ(activeRows(), static_cast<std::int64_t>(&c - cases.data()) + 1) << "a row in another spelling";
            EXPECT_EQ(blockMinutes(c.canonical), 60 * static_cast<std::int64_t>(c.spellings.size()));
            const std::vector<std::string> lines = env().op.lines();
            EXPECT_EQ(lines.front(), " - [Honeypot-Block] IP " + c.canonical + " is blocked for 60 minutes!");
            EXPECT_EQ(std::count(lines.begin(), lines.end(),
                                 " - [Honeypot-Block] IP " + c.canonical + " - Blocktime extendet by 60 minutes!"),
                      static_cast<std::ptrdiff_t>(c.spellings.size() - 1));
            for (const auto& change : commands())
                EXPECT_EQ(change, (RecordingFirewallCommand::Change{true, "Autoblock_" + c.canonical, c.canonical}));
        }
}

// A row stored in another spelling by an earlier version is the address's block all the same.
TEST_F(FirewallTest, AnActiveRowInAnotherSpellingIsExtended) {
    addActive("2001:DB8::5", "DATE_ADD(NOW(), INTERVAL 1 HOUR)");
    Firewall(context(), "RDP-Block", "2001:db8::5", 60);
    EXPECT_EQ(activeRows(), 1);
    EXPECT_TRUE(env().op.hasLine(" - [RDP-Block] IP 2001:db8::5 - Blocktime extendet by 60 minutes!"));
}

TEST_F(FirewallTest, HostileReasonNameIsStoredExactly) {
    const std::string name = "x\"); DELETE FROM " + tables().firewall() + "; -- 'quote' \\ \n end";
    Firewall(context(), name, "203.0.113.7", 5);
    Firewall(context(), "RDP-Block", "203.0.113.8", 5);
    EXPECT_EQ(activeRows(), 2);
    EXPECT_EQ(column("203.0.113.7", "RQ"), name);
    EXPECT_EQ(column("203.0.113.7", "Reason"), " - Counter: 1 - " + name);
}

TEST_F(FirewallTest, BadPrefixOrPortFailsBeforeAnyStatement) {
    env().settings.set(&SettingsValues::SQLTBLPrefix, "x;DROP");
    EXPECT_THROW(Firewall(context(), "RDP-Block", "203.0.113.7", 5), EInvalidIdentifier);
    // The port is converted as the connection opens, the first step, as in the scan and the release.
    env().settings.set(&SettingsValues::SQLPort, "3306a");
    EXPECT_THROW(Firewall(context(), "RDP-Block", "203.0.113.7", 5), EConvertError);
    EXPECT_EQ(activeRows(), 0);
    EXPECT_TRUE(commands().empty());
}

TEST_F(FirewallTest, ConcurrentBlocksOfSameAndDifferentAddresses) {
    constexpr int Threads = 8;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < Threads; ++i)
        threads.emplace_back([&, i] {
            try {
                // Even threads share one address, odd ones each have their own.
                const std::string ip = i % 2 == 0 ? "203.0.113.50" : "198.51.100." + std::to_string(i);
                Firewall(context(), "Honeypot-Block", ip, 60);
            } catch (...) {
                ++failures;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    for (int i = 1; i < Threads; i += 2)
        EXPECT_EQ(blockMinutes("198.51.100." + std::to_string(i)), 60);
    // Racing calls for one address may both find no row; every row is a whole block.
    const auto shared =
        tables().scalar("SELECT COUNT(*) AS value FROM " + tables().firewall() + " WHERE IP = \"203.0.113.50\"");
    EXPECT_GE(shared, 1);
    EXPECT_LE(shared, Threads / 2);
    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().firewall() +
                              " WHERE IP = \"203.0.113.50\" AND Reason = \" - Counter: 1 - Honeypot-Block\""),
              shared);
    EXPECT_EQ(env().op.lines().size(), static_cast<std::size_t>(Threads + (Threads / 2 - shared)));
}

} // namespace
} // namespace ostrel
