// rdp-ostrel-ctl as a program, run as an administrator would run it beside the service: inside the
// service's network namespace (real nftables), against the real database server.
#include "ServiceFixture.h"
#include "support/linux/TcpProbe.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace ostrel::test {
namespace {

using namespace std::chrono_literals;

std::string describe(const platform::ProcessOutcome& outcome) {
    return "exit " + std::to_string(outcome.exitCode) + "\n--- stdout\n" + outcome.output + "--- stderr\n" +
           outcome.errors;
}

class Ctl : public ServiceFixture {
protected:
    platform::ProcessOutcome ctl(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv = commandLine(arguments);
        std::replace(argv.begin(), argv.end(), std::string(OSTREL_SERVICE_PROGRAM), std::string(OSTREL_CTL_PROGRAM));
        return platform::runProcess(argv, {}, 120s);
    }
    // The service with the honeypot blocks `attackerAddress` when it connects, and the scan
    // blocks 203.0.113.7 (two failed logons over a threshold of 1).
    void blockByScanAndHoneypot(const TestTables& tables) {
        NetworkNamespace attacker;
        linkByVeth(guarded(), {"203.0.113.1/24"}, attacker, {"203.0.113.8/24"});
        writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
        appendFailedLogons({"203.0.113.7", "203.0.113.7"});
        ServiceProcess service(commandLine({"--honeypot", "3389"}));
        ASSERT_TRUE(service.waitForLines("[RDP-Block] IP 203.0.113.7 is blocked", 1, 30s)) << service.output();
        ASSERT_TRUE(service.waitForLines(" - Honeypot on 203.0.113.1:3389 started.", 1, 30s)) << service.output();
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        bool connected = false;
        while (!connected && std::chrono::steady_clock::now() < deadline)
            connected = attacker.run([] { return connectsFrom("203.0.113.8", "203.0.113.1", 3389, 700ms); });
        ASSERT_TRUE(connected) << "the honeypot did not answer";
        ASSERT_TRUE(service.waitForLines("[Honeypot-Block] IP 203.0.113.8 is blocked", 1, 30s)) << service.output();
        service.signal(SIGTERM);
        ASSERT_EQ(service.finish(60s).exitCode, 0);
    }
};

TEST_F(Ctl, ListShowsTheScansAndTheHoneypotsBlocksAndUnblockEndsOneAsAReleaseDoes) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    blockByScanAndHoneypot(tables);
    if (HasFatalFailure())
        return;

    const auto listed = ctl({"list", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << describe(listed);
    const auto blocks = nlohmann::json::parse(listed.output);
    ASSERT_EQ(blocks.size(), 2u) << listed.output;
    std::map<std::string, nlohmann::json> byAddress;
    for (const auto& block : blocks)
        byAddress[block.at("address").get<std::string>()] = block;
    EXPECT_EQ(byAddress.at("203.0.113.7").at("reason"), "RDP-Block");
    EXPECT_EQ(byAddress.at("203.0.113.8").at("reason"), "Honeypot-Block");
    for (const auto& [address, block] : byAddress) {
        EXPECT_EQ(block.at("number"), 1) << address;
        EXPECT_EQ(block.at("heldHere"), true) << address;
        EXPECT_EQ(block.at("endless"), false) << address;
        EXPECT_LT(block.at("since").get<std::string>(), block.at("until").get<std::string>()) << address;
    }
    const auto table = ctl({"list"});
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_EQ(countLines(table.output, "203.0.113.7  RDP-Block"), 1u) << table.output;

    const auto lifted = ctl({"unblock", "203.0.113.7"});
    ASSERT_EQ(lifted.exitCode, 0) << describe(lifted);
    EXPECT_EQ(lifted.output, " - Firewallentry 203.0.113.7 deleted.\n");
    EXPECT_EQ(blockedInFirewall(), (std::map<std::string, std::string>{{"203.0.113.8", "Autoblock_203.0.113.8"}}));
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall() + " WHERE IP = \"203.0.113.7\""), 0);
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.history() + " WHERE IP = \"203.0.113.7\""), 1);
    EXPECT_EQ(tables.scalar("SELECT changes AS value FROM " + tables.firewallchanges()), 3)
        << "counted for the guards sharing the table";

    const auto again = ctl({"unblock", "203.0.113.7"});
    EXPECT_EQ(again.exitCode, 4) << describe(again);
    EXPECT_EQ(again.output, "No active block of 203.0.113.7.\n");
}

TEST_F(Ctl, BlockByHandGoesThroughTheBlockPathAndRefusesWhatTheGuardRefuses) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    NetworkNamespace peer;
    linkByVeth(guarded(), {"203.0.113.1/24"}, peer, {"203.0.113.2/24"});
    auto config = goodConfig(tables, 0);
    config.push_back("AllowList=198.51.100.0/28");
    writeConfig(config);
    struct Refusal {
        std::string address;
        std::string line;
    };
    const std::vector<Refusal> refusals = {
        {"127.0.0.1", " - IP 127.0.0.1 is a local address - not blocked."},
        {"::1", " - IP ::1 is a local address - not blocked."},
        {"203.0.113.1", " - IP 203.0.113.1 is a local address - not blocked."},
        {"198.51.100.7", " - IP 198.51.100.7 is on the allow list - not blocked."},
        {"host.example", " - Invalid IP address: host.example - not blocked."},
        {"203.0.113.0/24", " - Invalid IP address: 203.0.113.0/24 - not blocked."},
    };
    for (const Refusal& c : refusals) {
        const auto outcome = ctl({"block", c.address});
        EXPECT_EQ(outcome.exitCode, 3) << c.address << "\n" << describe(outcome);
        EXPECT_EQ(outcome.output, c.line + "\n") << c.address;
    }
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall()), 0);

    const auto blocked = ctl({"block", "2001:db8::9", "--minutes", "30"});
    ASSERT_EQ(blocked.exitCode, 0) << describe(blocked);
    EXPECT_EQ(blocked.output, " - [Manual-Block] IP 2001:db8::9 is blocked for 30 minutes!\n");
    EXPECT_EQ(blockedInFirewall(), (std::map<std::string, std::string>{{"2001:db8::9", "Autoblock_2001:db8::9"}}));
    EXPECT_EQ(
        tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall() +
                      " WHERE IP = \"2001:db8::9\" AND RQ = \"Manual-Block\" AND "
                      "`revoke` BETWEEN DATE_ADD(NOW(), INTERVAL 29 MINUTE) AND DATE_ADD(NOW(), INTERVAL 31 MINUTE)"),
        1);
    const auto outOfRange = ctl({"block", "2001:db8::9", "--minutes", "-5"});
    EXPECT_EQ(outOfRange.exitCode, 2) << describe(outOfRange);
}

TEST_F(Ctl, CheckPassesAGoodSetUpAndNamesWhatIsBrokenInOneLine) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    appendFailedLogons({"198.51.100.1"});
    const auto good = goodConfig(tables, 0);
    writeConfig(good);
    const auto passed = ctl({"check"});
    EXPECT_EQ(passed.exitCode, 0) << describe(passed);
    EXPECT_EQ(countLines(passed.output, "ok   "), 7u) << passed.output;

    const auto with = [&](std::size_t index, const std::string& line) {
        auto config = good;
        config[index] = line;
        return std::optional(config);
    };
    const auto plus = [&](const std::string& line) {
        auto config = good;
        config.push_back(line);
        return std::optional(config);
    };
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> config; // none: no file
        std::vector<std::string> extra;                 // more options
        std::string failure;                            // the start of the FAIL line
    };
    const std::vector<Case> cases = {
        {"no file", std::nullopt, {}, "FAIL settings file: Cannot read " + configFile().string()},
        {"a value missing", with(2, "SQLDatabase="), {}, "FAIL settings complete: SQLDatabase missing"},
        {"a value out of range",
         with(7, "BlockInvalidUserInterval=-3"),
         {},
         "FAIL values in range: '-3' is out of range (BlockInvalidUserInterval"},
        {"wrong password", with(4, "SQLPasswort=wrong"), {}, "FAIL database: "},
        {"tables missing", with(5, "SQLTBLPrefix=nothere_"), {}, "FAIL tables: missing: nothere_merkliste"},
        {"no channel folder",
         good,
         {"--eventlog", (m_folder / "nowhere").string()},
         "FAIL event source: the channel folder"},
        {"a source that is none",
         plus("EventSource=journal"),
         {},
         "FAIL event source: 'journal' names no event source"},
        {"no xrdp log",
         plus("EventSource=xrdp:" + (m_folder / "xrdp-sesman.log").string()),
         {},
         "FAIL event source: the xrdp log " + (m_folder / "xrdp-sesman.log").string() + " does not exist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(configFile());
        if (c.config)
            writeConfig(*c.config);
        auto arguments = c.extra;
        arguments.push_back("check");
        const auto outcome = ctl(arguments);
        EXPECT_EQ(outcome.exitCode, 1) << describe(outcome);
        EXPECT_EQ(countLines(outcome.output, c.failure), 1u) << outcome.output;
        EXPECT_EQ(std::count(outcome.output.begin(), outcome.output.end(), '\n'), 7) << "one line per check";
    }

    // The xrdp log the settings choose is what is checked, not the channel folder.
    const std::filesystem::path xrdpLog = m_folder / "xrdp-sesman.log";
    std::ofstream(xrdpLog) << "[20261211-10:00:00] [INFO ] AUTHFAIL: user=admin ip=::ffff:203.0.113.9 time=1\n";
    writeConfig(*plus("EventSource=xrdp:" + xrdpLog.string()));
    const auto xrdp = ctl({"--eventlog", (m_folder / "nowhere").string(), "check"});
    EXPECT_EQ(xrdp.exitCode, 0) << describe(xrdp);
    EXPECT_EQ(countLines(xrdp.output, "ok   event source: readable (the xrdp log " + xrdpLog.string() + ")"), 1u)
        << xrdp.output;

    writeConfig(good);
    tables.exec("ALTER TABLE " + tables.firewallchanges() + " ENGINE=MyISAM");
    const auto myisam = ctl({"check"});
    EXPECT_EQ(myisam.exitCode, 1) << describe(myisam);
    EXPECT_EQ(countLines(myisam.output, "FAIL tables: " + tables.firewallchanges() + " has no transactions (MyISAM)"),
              1u)
        << myisam.output;
}

TEST_F(Ctl, AGuardRunningBesideFollowsAHandBlockAndALiftWithoutAnError) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
    appendFailedLogons({"203.0.113.7", "203.0.113.7"});
    const std::string pass = " - Clean up the firewall rules";
    ServiceProcess service(commandLine({"--interval", "1", "--detail-log"}));
    ASSERT_TRUE(service.waitForLines("[RDP-Block] IP 203.0.113.7 is blocked", 1, 30s)) << service.output();

    ASSERT_EQ(ctl({"unblock", "203.0.113.7"}).exitCode, 0);
    ASSERT_EQ(ctl({"block", "198.51.100.20"}).exitCode, 0);
    // Three passes more: the guard has seen the changes the tool counted, and compared.
    ASSERT_TRUE(service.waitForLines(pass, countLines(service.output(), pass) + 3, 30s)) << service.output();
    service.signal(SIGTERM);
    EXPECT_EQ(service.finish(60s).exitCode, 0);
    EXPECT_EQ(countLines(service.output(), "<3>"), 0u) << service.output();
    EXPECT_EQ(countLines(service.output(), " - Firewall: "), 0u) << service.output();
    EXPECT_EQ(blockedInFirewall(), (std::map<std::string, std::string>{{"198.51.100.20", "Autoblock_198.51.100.20"}}));
}

TEST_F(Ctl, HelpListsEveryExitStatusAndTheCommandLineIsChecked) {
    const auto help = ctl({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* status : {"  0  ", "  1  ", "  2  ", "  3  ", "  4  "})
        EXPECT_EQ(countLines(help.output, status), 1u) << status;
    const auto version = ctl({"--version"});
    EXPECT_EQ(version.output, "rdp-ostrel-ctl 1.0\n");
    EXPECT_EQ(runToEnd({"--version"}).output, "rdp-ostrel-service 1.0\n");
    for (const std::vector<std::string>& wrong :
         {std::vector<std::string>{}, {"frob"}, {"block"}, {"list", "--minutes", "5"}, {"unblock", "a", "b"}}) {
        const auto outcome = ctl(wrong);
        EXPECT_EQ(outcome.exitCode, 2) << describe(outcome);
    }
}

} // namespace
} // namespace ostrel::test
