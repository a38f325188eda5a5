// The headless guard as a program: started the way a service manager starts it, in a network
// namespace of the test's own, against the real database server and real nftables.
#include "ServiceFixture.h"
#include "config/ConfigurationLoad.h"
#include "platform/EventSource.h"
#include "platform/portable/ChannelFileSource.h"
#include "support/linux/TcpProbe.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <regex>
#include <sstream>

namespace ostrel::test {
namespace {

using namespace std::chrono_literals;

const std::string Rule = ConfigurationLoad::BannerRule;
const std::string Beta = ConfigurationLoad::BannerBeta;

std::string describe(const platform::ProcessOutcome& outcome) {
    return "exit " + std::to_string(outcome.exitCode) + " signal " + std::to_string(outcome.signal) + "\n--- stdout\n" +
           outcome.output + "--- stderr\n" + outcome.errors;
}

class Service : public ServiceFixture {
protected:
    // What a run with goodConfig and no further options says it runs with.
    std::string startLine(const TestTables& tables) const {
        const TestServer& server = TestServer::get();
        return " - rdp-ostrel-service 1.0 started: events from the channel file " +
               platform::ChannelFileSource::fileFor(eventlog(), platform::RdpChannel).string() + ", database " +
               server.database + " on localhost:" + std::to_string(server.port) + ", table prefix \"" +
               tables.prefix() + "\", history prefix \"" + tables.historyPrefix() +
               "\", a pass every 5 seconds, no honeypot.";
    }
};

TEST_F(Service, OncePassBlocksTheRepeatOffenderWithTheWindowsLines) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
    const std::int64_t last = appendFailedLogons({"203.0.113.7", "198.51.100.9", "203.0.113.7"});

    const auto outcome = runToEnd({"--once"});

    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
    EXPECT_EQ(outcome.errors, "");
    // What the window's Log shows after its start-up and a click on "Single pass".
    EXPECT_EQ(messagesOf(outcome.output),
              (std::vector<std::string>{
                  " - Loading config ... ",
                  " - Registry OK.",
                  " - Config loaded.",
                  " - Database connection established.",
                  Rule,
                  Beta,
                  " - Failed logons are read from the channel file " +
                      platform::ChannelFileSource::fileFor(eventlog(), platform::RdpChannel).string() + ".",
                  startLine(tables),
                  " - RecordNumber 4: 203.0.113.7",
                  " - RecordNumber 3: 198.51.100.9",
                  " - RecordNumber 2: 203.0.113.7",
                  " - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!",
                  " - Single pass carried out!",
                  " - rdp-ostrel-service stopped.",
              }))
        << outcome.output;
    EXPECT_EQ(blockedInFirewall(), (std::map<std::string, std::string>{{"203.0.113.7", "Autoblock_203.0.113.7"}}));
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall() + " WHERE IP = \"203.0.113.7\""), 1);
    EXPECT_NE(readConfig().find("LastRecord=" + std::to_string(last) + "\r\n"), std::string::npos) << readConfig();
}

TEST_F(Service, DebugReadsButBlocksNothing) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
    appendFailedLogons({"203.0.113.7", "203.0.113.7"});

    const auto outcome = runToEnd({"--once", "--debug"});

    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
    EXPECT_EQ(countLines(outcome.output, "RecordNumber 3: 203.0.113.7"), 1u) << outcome.output;
    EXPECT_EQ(countLines(outcome.output, "[RDP-Block]"), 0u) << outcome.output;
    EXPECT_TRUE(blockedInFirewall().empty());
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall()), 0);
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.merkliste()), 0);
}

TEST_F(Service, ShortIntervalRunsPassesAndEndsInOrderOnSigterm) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
    // A block whose time is up: the first pass releases it into the release pane.
    tables.exec("INSERT INTO " + tables.firewall() +
                " (`Timestamp`, `revoke`, IP, Reason, Command, RQ) VALUES (NOW(), DATE_SUB(NOW(), INTERVAL 1 SECOND),"
                " \"198.51.100.20\", \"RDP-Block\", \"\", \"\")");

    ServiceProcess service(commandLine({"--interval", "1", "--detail-log"}));
    ASSERT_TRUE(service.waitForLines(" -  Cleaned up!", 3, 30s)) << service.output();
    const std::int64_t last = appendFailedLogons({"203.0.113.7", "203.0.113.7", "2001:db8::7", "2001:db8::7"});
    ASSERT_TRUE(service.waitForLines(" - [RDP-Block] IP 2001:db8::7 is blocked", 1, 30s)) << service.output();
    // At once: the block's rule may still be queued, and the end must apply it.
    service.signal(SIGTERM);
    const auto outcome = service.finish(60s);

    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_EQ(blockedInFirewall(), (std::map<std::string, std::string>{
                                       {"2001:db8::7", "Autoblock_2001:db8::7"},
                                       {"203.0.113.7", "Autoblock_203.0.113.7"},
                                   }));
    EXPECT_EQ(countLines(outcome.output, " - Firewall: "), 0u) << outcome.output;
    EXPECT_GE(countLines(outcome.output, " -  Cleaned up!"), 4u) << "passes before and after the block";
    EXPECT_EQ(countLines(outcome.output, "[Clearlog] "), 1u) << outcome.output;
    const auto messages = messagesOf(outcome.output);
    EXPECT_NE(std::find(messages.begin(), messages.end(), "[Clearlog]  - Firewallentry 198.51.100.20 deleted."),
              messages.end())
        << outcome.output;
    EXPECT_NE(readConfig().find("LastRecord=" + std::to_string(last) + "\r\n"), std::string::npos) << readConfig();
}

TEST_F(Service, FailedStartUpExitsWithItsReason) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    auto wrongPassword = goodConfig(tables, 0);
    wrongPassword[4] = "SQLPasswort=not-the-password";
    struct Case {
        const char* name;
        std::optional<std::vector<std::string>> config; // none: no Config.ini at all
        std::string reason;                             // on standard error
        std::string lastMessage;                        // the last line on standard output
    };
    // The start-up's last line, after the banner, names the source it would read.
    const std::string sourceLine = " - Failed logons are read from the channel file " +
                                   platform::ChannelFileSource::fileFor(eventlog(), platform::RdpChannel).string() +
                                   ".";
    const Case cases[] = {
        {"no settings file", std::nullopt,
         "rdp-ostrel-service: Incorrect configuration: SQLServer, SQLPort, SQLDatabase, SQLUsername, SQLPasswort "
         "missing in " +
             configFile().string(),
         sourceLine},
        {"wrong password", wrongPassword, "rdp-ostrel-service: Database connection failed: Access denied for user",
         sourceLine},
        {"empty port",
         std::vector<std::string>{"SQLServer=localhost", "SQLPort=", "SQLDatabase=d", "SQLUsername=u", "SQLPasswort=p"},
         "rdp-ostrel-service: '' ist kein gültiger Integerwert (SQLPort takes a whole number from 0 to 65535)\n",
         " - Loading config ... "},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(configFile());
        if (c.config)
            writeConfig(*c.config);
        const auto outcome = runToEnd({"--once"});
        EXPECT_EQ(outcome.exitCode, 1) << c.name << "\n" << describe(outcome);
        EXPECT_EQ(outcome.errors.rfind(c.reason, 0), 0u) << c.name << "\n" << describe(outcome);
        const auto messages = messagesOf(outcome.output);
        EXPECT_EQ(messages.empty() ? "" : messages.back(), c.lastMessage) << c.name << "\n" << outcome.output;
    }
    EXPECT_NE(readConfig().find("SQLPort=\r\n"), std::string::npos) << "the file was left as it was";
}

TEST_F(Service, JournalLinesCarryLevelAndZonedTimeTellEachErrorOnceAndNoSecret) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    const std::string key = "key-4711-not-for-logs";
    auto config = goodConfig(tables, appendFailedLogons({"198.51.100.1"}));
    config[7] = "Report=TRUE";
    config.push_back("AbuseReportRDPURL=http://127.0.0.1:9/report.php?source=guard");
    config.push_back("AbuseKEY=" + key);
    writeConfig(config);
    appendFailedLogons({"203.0.113.7", "203.0.113.7"});

    ServiceProcess service(commandLine({"--interval", "1", "--detail-log"}));
    ASSERT_TRUE(service.waitForLines("[RDP-Block] IP 203.0.113.7 is blocked", 1, 30s)) << service.output();
    // A real fault of every pass: the scan's store and the release's purge both fail on it.
    tables.exec("DROP TABLE " + tables.merkliste());
    ASSERT_TRUE(service.waitForLines("merkliste' doesn't exist", 3, 60s)) << service.output();
    service.signal(SIGTERM);
    const auto outcome = service.finish(60s);
    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
    const std::string& output = service.output();

    static const std::regex timed(
        R"(^<([3-6])>(\[Clearlog\] )?\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d( .*)$)");
    std::istringstream lines(output);
    std::size_t errorLines = 0, passes = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line == "<6>" + Rule || line == "<6>" + Beta)
            continue;
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(line, parts, timed)) << line;
        const std::string message = parts[3];
        if (message.find("merkliste' doesn't exist") != std::string::npos) {
            EXPECT_EQ(parts[1], "3") << line;
            ++errorLines;
        }
        // Every pass releases once, after its scan: the scan's store and the release's purge fail alike.
        if (message.starts_with(" - Clean up the firewall rules"))
            ++passes;
        if (message.find("[RDP-Block]") != std::string::npos) {
            EXPECT_EQ(parts[1], "5") << line;
        }
    }
    EXPECT_GE(errorLines, 3u);
    EXPECT_LE(errorLines, passes) << "one fault, one line per pass:\n" << output;
    EXPECT_EQ(output.find(key), std::string::npos) << output;
    EXPECT_EQ(countLines(output, "&KEY=***&IP=203.0.113.7"), 1u) << output;
    EXPECT_EQ(countLines(output, " - rdp-ostrel-service 1.0 started: "), 1u);
    EXPECT_EQ(messagesOf(output).back(), " - rdp-ostrel-service stopped.");
    EXPECT_EQ(outcome.errors, "");
}

TEST_F(Service, AnUnreadableSettingsFileIsReportedWithTheSystemsReason) {
    const std::vector<std::string> config = {"SQLServer=localhost", "SQLPort=3306", "SQLDatabase=d", "SQLUsername=u",
                                             "SQLPasswort=p"};
    writeConfig(config);
    const std::string before = readConfig();
    namespace fs = std::filesystem;
    fs::permissions(configFile().parent_path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(configFile(), fs::perms::none);
    // Root reads every file: the program runs as nobody, as a service without the right would.
    std::vector<std::string> argv = commandLine({"--once"});
    argv.insert(std::find(argv.begin(), argv.end(), std::string(OSTREL_SERVICE_PROGRAM)),
                {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    const auto outcome = platform::runProcess(argv, {}, std::chrono::seconds(120));
    fs::permissions(configFile(), fs::perms::owner_read | fs::perms::owner_write);

    EXPECT_EQ(outcome.exitCode, 1) << describe(outcome);
    EXPECT_EQ(outcome.errors, "rdp-ostrel-service: Cannot read " + configFile().string() + ": Permission denied.\n")
        << describe(outcome);
    EXPECT_EQ(countLines(outcome.output, "placeholders"), 0u) << outcome.output;
    EXPECT_EQ(countLines(outcome.output, " - Config loaded."), 0u) << outcome.output;
    EXPECT_EQ(readConfig(), before);
}

TEST_F(Service, HoneypotBlocksAConnectingAddress) {
    OSTREL_REQUIRE_TEST_DB();
    NetworkNamespace attacker;
    linkByVeth(guarded(), {"203.0.113.1/24"}, attacker, {"203.0.113.7/24"});
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));

    ServiceProcess service(commandLine({"--honeypot", "3389"}));
    ASSERT_TRUE(service.waitForLines(" - Honeypot on 203.0.113.1:3389 started.", 1, 30s)) << service.output();
    // The first handshake may wait for neighbour discovery; the honeypot accepts and hangs up.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    bool connected = false;
    while (!connected && std::chrono::steady_clock::now() < deadline)
        connected = attacker.run([] { return connectsFrom("203.0.113.7", "203.0.113.1", 3389, 700ms); });
    ASSERT_TRUE(connected) << "the honeypot did not answer";
    ASSERT_TRUE(service.waitForLines(" - [Honeypot-Block] IP 203.0.113.7 is blocked for 120 minutes!", 1, 30s))
        << service.output();
    service.signal(SIGTERM);
    const auto outcome = service.finish(60s);

    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
    EXPECT_EQ(blockedInFirewall(), (std::map<std::string, std::string>{{"203.0.113.7", "Autoblock_203.0.113.7"}}));
    EXPECT_FALSE(attacker.run([] { return connectsFrom("203.0.113.7", "203.0.113.1", 3389, 700ms); }))
        << "the blocked address still reaches the machine";
}

TEST_F(Service, RestartAfterTheRulesetWasFlushedRestoresEveryActiveBlock) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
    appendFailedLogons({"203.0.113.7", "203.0.113.7", "2001:db8::7", "2001:db8::7"});
    const auto first = runToEnd({"--once"});
    ASSERT_EQ(first.exitCode, 0) << describe(first);
    const std::map<std::string, std::string> blocked{{"2001:db8::7", "Autoblock_2001:db8::7"},
                                                     {"203.0.113.7", "Autoblock_203.0.113.7"}};
    ASSERT_EQ(blockedInFirewall(), blocked);

    // What a reboot does to the firewall.
    guarded().execChecked({"nft", "flush", "ruleset"});
    ASSERT_EQ(guarded().execChecked({"nft", "list", "tables"}), "");

    // The first pass is two minutes away: only the start-up can put the rules back.
    ServiceProcess second(commandLine({"--interval", "120"}));
    EXPECT_TRUE(second.waitForLines(" - Firewall rule restored for IP ", 2, 30s)) << second.output();
    second.signal(SIGTERM);
    const auto outcome = second.finish(60s);
    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
    EXPECT_EQ(countLines(outcome.output, " - RecordNumber "), 0u) << "a pass ran: " << outcome.output;
    EXPECT_EQ(blockedInFirewall(), blocked) << outcome.output;
}

TEST_F(Service, CommandLineMistakesExitWithStatusTwoAndSayWhat) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--frobnicate"}, "unknown option --frobnicate"},
        {{"extra"}, "unexpected argument 'extra'"},
        {{"--interval"}, "--interval needs a value"},
        {{"--interval", "0"}, "--interval takes a whole number from 1 to 120, not '0'"},
        {{"--interval=121"}, "--interval takes a whole number from 1 to 120, not '121'"},
        {{"--interval", "5s"}, "--interval takes a whole number from 1 to 120, not '5s'"},
        {{"--honeypot", "3299"}, "--honeypot takes a whole number from 3300 to 3400, not '3299'"},
        {{"--config", ""}, "--config needs a path, not an empty text"},
        {{"--once=yes"}, "--once takes no value"},
        {{"--source", "syslog"}, "--source takes eventlog, channel, or xrdp[:PATH], not 'syslog'"},
        {{"--once", "--honeypot", "3389"}, "--once runs a single pass and ends; it takes no --honeypot"},
    };
    for (const auto& [options, message] : cases) {
        const auto outcome = runToEnd(options);
        EXPECT_EQ(outcome.exitCode, 2) << message << "\n" << describe(outcome);
        EXPECT_EQ(outcome.errors, "rdp-ostrel-service: " + message + "\nTry 'rdp-ostrel-service --help'.\n");
        EXPECT_EQ(outcome.output, "");
    }
    EXPECT_FALSE(std::filesystem::exists(configFile())) << "a refused command line touches nothing";
}

TEST_F(Service, HelpExplainsEveryOption) {
    const auto outcome = runToEnd({"--help"});
    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
    for (const char* option : {"--config FILE", "--eventlog DIR", "--source SOURCE", "--interval SECONDS",
                               "--honeypot PORT", "--once", "--debug", "--detail-log", "--help"})
        EXPECT_NE(outcome.output.find("  " + std::string(option) + " "), std::string::npos) << option;
    EXPECT_FALSE(std::filesystem::exists(configFile()));
}

} // namespace
} // namespace ostrel::test
