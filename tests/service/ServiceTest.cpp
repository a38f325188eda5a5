// The headless guard as a program: started the way a service manager starts it, in a network
// namespace of the test's own, against the real database server and real nftables.
#include "ServiceFixture.h"
#include "config/ConfigurationLoad.h"
#include "support/TcpProbe.h"

#include <csignal>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using namespace std::chrono_literals;

const std::string Rule = ConfigurationLoad::BannerRule;
const std::string Beta = ConfigurationLoad::BannerBeta;

std::string describe(const platform::ProcessOutcome& outcome) {
    return "exit " + std::to_string(outcome.exitCode) + " signal " + std::to_string(outcome.signal) +
           "\n--- stdout\n" + outcome.output + "--- stderr\n" + outcome.errors;
}

class Service : public ServiceFixture {};

TEST_F(Service, OncePassBlocksTheRepeatOffenderWithTheWindowsLines) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
    const std::int64_t last = appendFailedLogons({"203.0.113.7", "198.51.100.9", "203.0.113.7"});

    const auto outcome = runToEnd({"--once"});

    ASSERT_EQ(outcome.exitCode, 0) << describe(outcome);
    EXPECT_EQ(outcome.errors, "");
    // What the window's Log shows after its start-up and a click on "Single pass".
    EXPECT_EQ(messagesOf(outcome.output), (std::vector<std::string>{
                                              " - Loading config ... ",
                                              " - Registry OK.",
                                              " - Config loaded.",
                                              " - Database connection established.",
                                              Rule,
                                              Beta,
                                              " - RecordNumber 4: 203.0.113.7",
                                              " - RecordNumber 3: 198.51.100.9",
                                              " - RecordNumber 2: 203.0.113.7",
                                              " - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!",
                                              " - Single pass carried out!",
                                          }))
        << outcome.output;
    EXPECT_EQ(blockedInFirewall(), (std::map<std::string, std::string>{{"203.0.113.7", "Autoblock_203.0.113.7"}}));
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall() + " WHERE IP = \"203.0.113.7\""), 1);
    EXPECT_NE(readConfig().find("LastRecord=" + std::to_string(last) + "\r\n"), std::string::npos) << readConfig();
}

} // namespace
} // namespace ostrel::test
