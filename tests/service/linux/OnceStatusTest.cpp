// A single pass run from cron: its exit status tells whether the pass did its work.
#include "ServiceFixture.h"
#include "platform/EventChannel.h"
#include "platform/EventSource.h"
#include "platform/System.h"
#include "platform/portable/ChannelClaim.h"
#include "platform/portable/ChannelFileSource.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace ostrel::test {
namespace {

std::string describe(const platform::ProcessOutcome& outcome) {
    return "exit " + std::to_string(outcome.exitCode) + "\n--- stdout\n" + outcome.output + "--- stderr\n" +
           outcome.errors;
}

class OnceStatus : public ServiceFixture {};

TEST_F(OnceStatus, APassThatDidNotCompleteExitsNonZeroWithTheReason) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    const std::string failed = "rdp-ostrel-service: the pass did not complete:";
    struct Case {
        const char* name;
        void (*spoil)(const std::filesystem::path& eventlog, TestTables&);
        std::string reason; // on standard error after `failed`
    };
    const Case cases[] = {
        {"a FIFO in place of the channel",
         [](const std::filesystem::path& eventlog, TestTables&) {
             const auto file = platform::ChannelFileSource::fileFor(eventlog, platform::RdpChannel);
             std::filesystem::remove(file);
             if (::mkfifo(file.c_str(), 0600) != 0)
                 FAIL() << "mkfifo";
         },
         "it is no regular file"},
        {"the database refuses the pass's statements",
         [](const std::filesystem::path&, TestTables& tables) { tables.exec("DROP TABLE " + tables.lastrecord()); },
         " EDatabaseError:The table " + tables.lastrecord() + " is missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
        appendFailedLogons({"203.0.113.7"});
        c.spoil(eventlog(), tables);

        const auto outcome = runToEnd({"--once"});

        EXPECT_EQ(outcome.exitCode, 1) << describe(outcome);
        EXPECT_EQ(outcome.errors.rfind(failed, 0), 0u) << describe(outcome);
        EXPECT_NE(outcome.errors.find(c.reason), std::string::npos) << describe(outcome);
        std::filesystem::remove(platform::ChannelFileSource::fileFor(eventlog(), platform::RdpChannel));
    }
}

TEST_F(OnceStatus, AMarkThatIsNoNumberIsReportedAndRepairedAndThePassCompletes) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    auto config = goodConfig(tables, 0);
    config.back() = "LastRecord=5abc";
    writeConfig(config);
    const std::int64_t last = appendFailedLogons({"203.0.113.7", "203.0.113.8"});

    const auto outcome = runToEnd({"--once"});

    EXPECT_EQ(outcome.exitCode, 0) << describe(outcome);
    EXPECT_EQ(outcome.errors, "");
    EXPECT_NE(outcome.output.find(" - LastRecord \"5abc\" is no whole number and no mark is stored: this pass is a "
                                  "first run."),
              std::string::npos)
        << outcome.output;
    EXPECT_NE(readConfig().find("LastRecord=" + std::to_string(last) + "\r\n"), std::string::npos) << readConfig();
}

TEST_F(OnceStatus, AnotherGuardOfTheChannelOnThisMachineEndsTheServiceNonZero) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
    appendFailedLogons({"203.0.113.7", "203.0.113.7"});
    std::string holder;
    const auto claim = platform::ChannelClaim::tryTake(platform::channelClaimFile(eventlog()), holder);
    ASSERT_TRUE(claim);

    const auto outcome = runToEnd({"--once"});

    EXPECT_EQ(outcome.exitCode, 1) << describe(outcome);
    EXPECT_EQ(outcome.errors.rfind("rdp-ostrel-service: The event log is guarded by process " +
                                       std::to_string(platform::currentProcessId()) + " on this machine already",
                                   0),
              0u)
        << describe(outcome);
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.merkliste()), 0);
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall()), 0);
}

} // namespace
} // namespace ostrel::test
