#include "platform/windows/WindowsFirewall.h"

#include "WineDetection.h"
#include "common/Errors.h"
#include "platform/FirewallCommand.h"
#include "support/RecordingOperator.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

namespace ostrel::test {
namespace {

// Wine creates the firewall's COM objects and answers S_OK to Add and Remove while keeping
// nothing. These tests show that the calls are made on the worker's own apartment and come
// back without an error, nothing more: whether Windows then drops the address can only be
// seen on Windows.
TEST(WindowsFirewallPlumbingOnly, AddAndDeleteRunTheirComCallsWithoutAnError) {
    RecordingOperator op;
    {
        auto firewall = platform::makeFirewallCommand(op);
        firewall->addRule("Autoblock_203.0.113.61", "203.0.113.61");
        firewall->addRule("Autoblock_2001:db8::61", "2001:db8::61");
        firewall->drain();
        firewall->deleteRule("Autoblock_203.0.113.61", "203.0.113.61");
        firewall->deleteRule("Autoblock_2001:db8::61", "2001:db8::61");
        firewall->drain();
    }
    EXPECT_TRUE(op.lines().empty()) << op.lines().front();
}

TEST(WindowsFirewallPlumbingOnly, ListingTheRulesComesBackAfterTheQueuedChanges) {
    RecordingOperator op;
    const auto command = platform::makeWindowsFirewall(op);
    platform::FirewallCommand& firewall = *command;
    firewall.addRule("Autoblock_198.51.100.62", "198.51.100.62");
    std::vector<std::string> listed;
    try {
        listed = firewall.blockedAddresses();
    } catch (const EOleException& error) {
        // Wine may not enumerate rules at all; the listing then fails as an error, never hangs.
        EXPECT_TRUE(runningUnderWine()) << error.what();
    }
    if (!runningUnderWine()) {
        EXPECT_NE(std::find(listed.begin(), listed.end(), "198.51.100.62"), listed.end());
    }
    firewall.deleteRule("Autoblock_198.51.100.62", "198.51.100.62");
    firewall.drain();
    EXPECT_TRUE(op.lines().empty()) << op.lines().front();
}

// The reconcile after every pass asks the command what the firewall holds: after one listing the
// command answers from the record of its own changes. Wine cannot list the rules, so there the
// record never gets its first reading and the test stops at that.
TEST(WindowsFirewallPlumbingOnly, AfterAListingTheRecordAnswersWithTheCommandsOwnChanges) {
    RecordingOperator op;
    const auto command = platform::makeWindowsFirewall(op);
    platform::FirewallCommand& firewall = *command;
    EXPECT_FALSE(firewall.heldAddressesVersion()) << "nothing was listed yet";
    try {
        firewall.blockedAddresses();
    } catch (const EOleException& error) {
        if (runningUnderWine())
            GTEST_SKIP() << "Wine cannot list the firewall's rules: " << error.what();
        throw;
    }
    const std::optional<std::uint64_t> listedAt = firewall.heldAddressesVersion();
    ASSERT_TRUE(listedAt);
    firewall.addRule("Autoblock_198.51.100.63", "198.51.100.63");
    EXPECT_NE(firewall.heldAddressesVersion(), listedAt);
    const std::vector<std::string> held = firewall.blockedAddresses();
    EXPECT_NE(std::find(held.begin(), held.end(), "198.51.100.63"), held.end());
    firewall.deleteRule("Autoblock_198.51.100.63", "198.51.100.63");
    firewall.drain();
    EXPECT_TRUE(op.lines().empty()) << op.lines().front();
}

// This part is ours, not the firewall's: refused texts never reach a COM call (the whole rule is
// in QueuedFirewallCommandTest).
TEST(WindowsFirewall, RefusesWhatIsNoAddressAndLoopbackBeforeAnyComCall) {
    RecordingOperator op;
    const auto command = platform::makeWindowsFirewall(op);
    platform::FirewallCommand& firewall = *command;
    firewall.addRule("Autoblock_127.0.0.1", "127.0.0.1");
    firewall.addRule("Autoblock_x\" remoteip=any", "x\" remoteip=any");
    firewall.deleteRule("Autoblock_::1", "::1");
    firewall.drain();
    EXPECT_EQ(op.lines(), (std::vector<std::string>{
                              " - Firewall: refused to add '127.0.0.1' (loopback address)",
                              " - Firewall: refused to add 'x\" remoteip=any' (not an IP address)",
                              " - Firewall: refused to delete '::1' (loopback address)",
                          }));
}

} // namespace
} // namespace ostrel::test
