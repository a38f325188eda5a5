// The service's watch of its event source: new records start a pass at once, on top of the timer.
#include "service/linux/ServiceFixture.h"

#include <csignal>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using namespace std::chrono_literals;

class ServiceWatch : public ServiceFixture {};

TEST_F(ServiceWatch, ARecordIsBlockedAtOnceWhileTheTimerIsMinutesAway) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
    // The timer's first pass is two minutes away (the interval's ceiling).
    ServiceProcess service(commandLine({"--interval", "120"}));
    ASSERT_TRUE(service.waitForLines(" start a pass at once.", 1, 30s)) << service.output();
    appendFailedLogons({"203.0.113.7"});
    appendFailedLogons({"203.0.113.7"});
    // Well under the timer's two minutes: only the watch can have started the pass.
    ASSERT_TRUE(service.waitForLines(" - [RDP-Block] IP 203.0.113.7 is blocked", 1, 60s)) << service.output();
    service.signal(SIGTERM);
    const auto outcome = service.finish(60s);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.output << outcome.errors;
    EXPECT_EQ(blockedInFirewall(), (std::map<std::string, std::string>{{"203.0.113.7", "Autoblock_203.0.113.7"}}));
}

TEST_F(ServiceWatch, AFloodOfLinesMakesABoundedNumberOfPasses) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    writeConfig(goodConfig(tables, appendFailedLogons({"198.51.100.1"})));
    ServiceProcess service(commandLine({"--interval", "120", "--detail-log"}));
    ASSERT_TRUE(service.waitForLines(" start a pass at once.", 1, 30s)) << service.output();
    constexpr int Lines = 10000;
    std::int64_t last = 0;
    for (int i = 0; i < Lines; ++i) // one append each, as a log written line by line
        last = appendFailedLogons({"203.0.113." + std::to_string(1 + i % 200)});
    ASSERT_TRUE(service.waitForLines(" - RecordNumber " + std::to_string(last) + ": ", 1, 120s)) << "not all read";
    service.signal(SIGTERM);
    const auto outcome = service.finish(60s);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.errors;
    EXPECT_EQ(countLines(outcome.output, " - RecordNumber "), static_cast<std::size_t>(Lines)) << "each read once";
    // Passes queued one per line would be thousands; coalesced, a pass takes what came meanwhile.
    const std::size_t passes = countLines(outcome.output, " -  Cleaned up!");
    EXPECT_GE(passes, 1u);
    EXPECT_LE(passes, static_cast<std::size_t>(Lines / 50)) << "passes for " << Lines << " lines";
}

} // namespace
} // namespace ostrel::test
