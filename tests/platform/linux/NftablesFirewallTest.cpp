#include "platform/linux/NftablesFirewall.h"

#include "common/Errors.h"
#include "platform/FirewallCommand.h"
#include "platform/linux/NftablesScript.h"
#include "support/NamespaceTest.h"
#include "support/RecordingOperator.h"
#include "support/linux/NftablesInspection.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace ostrel::platform {
namespace {

namespace fs = std::filesystem;
using test::NetworkNamespace;
using test::RecordingOperator;
using Elements = std::map<std::string, std::string>;

// A stand-in for nft, written as a small script for one test and removed with it.
class FakeNft {
public:
    explicit FakeNft(const std::string& body) {
        char folder[] = "/tmp/ostrel-fake-nft-XXXXXX";
        if (!::mkdtemp(folder))
            throw std::runtime_error("mkdtemp failed");
        m_folder = folder;
        std::ofstream(path()) << "#!/bin/sh\n" << body;
        fs::permissions(path(), fs::perms::owner_all);
    }
    ~FakeNft() { fs::remove_all(m_folder); }
    std::string path() const { return (m_folder / "nft").string(); }
    std::string calls() const { return (m_folder / "calls").string(); }

private:
    fs::path m_folder;
};

std::string v6Address(int host) {
    char text[40];
    std::snprintf(text, sizeof text, "2001:db8:0:1::%x", host);
    return text;
}

class NftablesFirewallInNamespace : public test::NamespaceTest {
protected:
    std::unique_ptr<FirewallCommand> firewall(const std::string& nftPath = "nft", FirewallRecordTiming timing = {}) {
        NftablesOptions options;
        options.nftPath = nftPath;
        options.netns = m_ns->name();
        return makeNftablesFirewall(m_op, options, std::move(timing));
    }
    // A firewall that lists its table for every answer.
    std::unique_ptr<FirewallCommand> listingFirewall() { return firewall("nft", {std::chrono::milliseconds(0), {}}); }
    void nft(const std::vector<std::string>& arguments) {
        std::vector<std::string> line{"nft"};
        line.insert(line.end(), arguments.begin(), arguments.end());
        m_ns->execChecked(line);
    }
    Elements v4() { return test::setElements(*m_ns, NftablesOptions{}.table, BlockedV4Set); }
    Elements v6() { return test::setElements(*m_ns, NftablesOptions{}.table, BlockedV6Set); }
    std::size_t rules() { return test::ruleCount(*m_ns, NftablesOptions{}.table, InputChain); }

    RecordingOperator m_op;
};

TEST_F(NftablesFirewallInNamespace, RefusesEverythingButAnAddressOfAnotherMachine) {
    struct Refusal {
        std::string text;
        std::string shown;
        std::string reason;
    };
    const std::vector<Refusal> refusals = {
        {"", "", "not an IP address"},
        {"rdp.example.com", "rdp.example.com", "not an IP address"},
        {"203.0.113.7; flush ruleset", "203.0.113.7; flush ruleset", "not an IP address"},
        {"203.0.113.7 }\nflush ruleset", "203.0.113.7 }?flush ruleset", "not an IP address"},
        {"2001:db8::7%veth0", "2001:db8::7%veth0", "not an IP address"},
        {"127.0.0.1", "127.0.0.1", "loopback address"},
        {"127.8.9.10", "127.8.9.10", "loopback address"},
        {"::1", "::1", "loopback address"},
        {"::ffff:127.0.0.1", "::ffff:127.0.0.1", "loopback address"},
    };
    auto fw = firewall();
    for (const auto& refusal : refusals) {
        fw->addRule("Autoblock_" + refusal.text, refusal.text);
        fw->deleteRule("Autoblock_" + refusal.text, refusal.text);
    }
    fw->drain();
    for (const auto& refusal : refusals) {
        SCOPED_TRACE("address text '" + refusal.text + "'");
        EXPECT_TRUE(m_op.hasLine(" - Firewall: refused to add '" + refusal.shown + "' (" + refusal.reason + ")"));
        EXPECT_TRUE(m_op.hasLine(" - Firewall: refused to delete '" + refusal.shown + "' (" + refusal.reason + ")"));
    }
    EXPECT_EQ(m_op.lines().size(), 2 * refusals.size());
    EXPECT_TRUE(v4().empty());
    EXPECT_TRUE(v6().empty());
    EXPECT_EQ(rules(), 2u);
}

TEST_F(NftablesFirewallInNamespace, AddsAndDeletesBothFamilies) {
    auto fw = firewall();
    fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    fw->addRule("Autoblock_2001:DB8::7", "2001:DB8::7");
    fw->addRule("Autoblock_::ffff:203.0.113.8", "::ffff:203.0.113.8");
    fw->drain();
    EXPECT_EQ(v4(),
              (Elements{{"203.0.113.7", "Autoblock_203.0.113.7"}, {"203.0.113.8", "Autoblock_::ffff:203.0.113.8"}}));
    EXPECT_EQ(v6(), (Elements{{"2001:db8::7", "Autoblock_2001:DB8::7"}}));

    fw->deleteRule("Autoblock_203.0.113.7", "203.0.113.7");
    fw->deleteRule("Autoblock_2001:DB8::7", "2001:db8::7");
    fw->deleteRule("Autoblock_::ffff:203.0.113.8", "::ffff:203.0.113.8");
    fw->drain();
    EXPECT_TRUE(v4().empty());
    EXPECT_TRUE(v6().empty());
    EXPECT_TRUE(m_op.lines().empty());
}

TEST_F(NftablesFirewallInNamespace, KeepsTheOrderOfChanges) {
    auto fw = firewall();
    fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    fw->deleteRule("Autoblock_203.0.113.7", "203.0.113.7");
    fw->deleteRule("Autoblock_203.0.113.8", "203.0.113.8");
    fw->addRule("Autoblock_203.0.113.8", "203.0.113.8");
    fw->addRule("Autoblock_203.0.113.9", "203.0.113.9");
    fw->deleteRule("Autoblock_203.0.113.9", "203.0.113.9");
    fw->addRule("Autoblock_203.0.113.9", "203.0.113.9");
    fw->drain();
    EXPECT_EQ(v4(), (Elements{{"203.0.113.8", "Autoblock_203.0.113.8"}, {"203.0.113.9", "Autoblock_203.0.113.9"}}));
    EXPECT_TRUE(m_op.lines().empty());
}

TEST_F(NftablesFirewallInNamespace, DeleteOfAnAbsentAddressDoesNotSinkTheOthers) {
    auto fw = firewall();
    fw->deleteRule("Autoblock_203.0.113.9", "203.0.113.9");
    fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    fw->deleteRule("Autoblock_2001:db8::9", "2001:db8::9");
    fw->addRule("Autoblock_203.0.113.8", "203.0.113.8");
    fw->drain();
    EXPECT_EQ(v4(), (Elements{{"203.0.113.7", "Autoblock_203.0.113.7"}, {"203.0.113.8", "Autoblock_203.0.113.8"}}));
    EXPECT_TRUE(m_op.lines().empty());
}

TEST_F(NftablesFirewallInNamespace, SetsUpOneTableHoweverManyObjectsUseIt) {
    auto first = firewall();
    first->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    first->drain();
    auto second = firewall();
    second->addRule("Autoblock_203.0.113.8", "203.0.113.8");
    second->drain();
    EXPECT_EQ(rules(), 2u);
    EXPECT_EQ(v4().size(), 2u);
    EXPECT_TRUE(m_op.lines().empty());
}

TEST_F(NftablesFirewallInNamespace, AppliesWhatIsQueuedBeforeItGoes) {
    {
        auto fw = firewall();
        for (int host = 1; host <= 20; ++host)
            fw->addRule("Autoblock", v6Address(host));
    }
    EXPECT_EQ(v6().size(), 20u);
}

TEST_F(NftablesFirewallInNamespace, TakesChangesFromSeveralThreads) {
    auto fw = firewall();
    std::vector<std::thread> callers;
    callers.reserve(4);
    for (int caller = 0; caller < 4; ++caller) {
        callers.emplace_back([&, caller] {
            for (int host = 1; host <= 50; ++host)
                fw->addRule("Autoblock", v6Address(caller * 100 + host));
        });
    }
    for (auto& caller : callers)
        caller.join();
    fw->drain();
    EXPECT_EQ(v6().size(), 200u);
}

TEST_F(NftablesFirewallInNamespace, AppliesManyChangesInFewProcesses) {
    const FakeNft counting("echo run >> \"$(dirname \"$0\")/calls\"\nexec nft \"$@\"\n");
    constexpr int Blocks = 10000;
    {
        auto fw = firewall(counting.path());
        for (int host = 1; host <= Blocks; ++host)
            fw->addRule("Autoblock_" + v6Address(host), v6Address(host));
        fw->drain();
    }
    EXPECT_EQ(v6().size(), static_cast<std::size_t>(Blocks));
    std::ifstream calls(counting.calls());
    const auto runs = std::count(std::istreambuf_iterator<char>(calls), std::istreambuf_iterator<char>(), '\n');
    // One process per change would be ten thousand; batching leaves a handful.
    EXPECT_LT(runs, 100);
    EXPECT_TRUE(m_op.lines().empty());
}

TEST_F(NftablesFirewallInNamespace, NamesEachChangeThatStillFailsAlone) {
    const FakeNft refusing("script=$(cat)\n"
                           "case \"$script\" in *203.0.113.9*) echo 'Error: refused by the test' >&2; exit 1;; esac\n"
                           "printf '%s\\n' \"$script\" | nft \"$@\"\n");
    auto fw = firewall(refusing.path());
    fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    fw->addRule("Autoblock_203.0.113.9", "203.0.113.9");
    fw->addRule("Autoblock_203.0.113.8", "203.0.113.8");
    fw->drain();
    fw->deleteRule("Autoblock_203.0.113.9", "203.0.113.9");
    fw->deleteRule("Autoblock_203.0.113.8", "203.0.113.8");
    fw->drain();
    EXPECT_EQ(v4(), (Elements{{"203.0.113.7", "Autoblock_203.0.113.7"}}));
    EXPECT_EQ(m_op.lines(),
              (std::vector<std::string>{" - Firewall: could not add 203.0.113.9 (refused by the test)",
                                        " - Firewall: could not delete 203.0.113.9 (refused by the test)"}));
}

TEST_F(NftablesFirewallInNamespace, LogsEveryChangeWhenNftCannotRunThere) {
    auto fw = firewall("/nonexistent/nft");
    fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    fw->deleteRule("Autoblock_2001:db8::7", "2001:db8::7");
    fw->drain();
    const auto lines = m_op.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].starts_with(" - Firewall: could not set up the nftables table inet rdp_ostrel ("));
    EXPECT_TRUE(lines[1].starts_with(" - Firewall: could not add 203.0.113.7 ("));
    EXPECT_TRUE(lines[2].starts_with(" - Firewall: could not delete 2001:db8::7 ("));
    EXPECT_NE(lines[1].find("/nonexistent/nft"), std::string::npos) << lines[1];
}

TEST_F(NftablesFirewallInNamespace, ListsWhatItHoldsOnceTheQueueIsApplied) {
    auto fw = listingFirewall();
    EXPECT_TRUE(fw->blockedAddresses().empty()) << "a fresh table holds nothing";
    fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    fw->addRule("Autoblock_::ffff:203.0.113.8", "::ffff:203.0.113.8");
    fw->addRule("Autoblock_2001:DB8:0::7", "2001:DB8:0::7");
    fw->addRule("Autoblock_203.0.113.9", "203.0.113.9");
    fw->deleteRule("Autoblock_203.0.113.9", "203.0.113.9");
    // An element of someone else's making, without a comment, is held all the same.
    m_ns->execChecked({"nft", "add", "element", "inet", "rdp_ostrel", BlockedV4Set, "{ 198.51.100.4 }"});
    std::vector<std::string> held = fw->blockedAddresses(); // no drain before: it drains itself
    std::sort(held.begin(), held.end());
    EXPECT_EQ(held, (std::vector<std::string>{"198.51.100.4", "2001:db8::7", "203.0.113.7", "203.0.113.8"}));

    m_ns->execChecked({"nft", "flush", "ruleset"});
    EXPECT_TRUE(fw->blockedAddresses().empty()) << "a table that is gone holds nothing";
    fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    EXPECT_EQ(fw->blockedAddresses(), std::vector<std::string>{"203.0.113.7"}) << "the next change sets it up again";
    EXPECT_EQ(rules(), 2u);
    EXPECT_TRUE(m_op.lines().empty());
}

std::vector<std::string> sorted(std::vector<std::string> addresses) {
    std::sort(addresses.begin(), addresses.end());
    return addresses;
}

// Between readings of the table the command answers from its own changes; it lists the table
// again once the verification interval is over or after a change that failed.
TEST_F(NftablesFirewallInNamespace, AnswersFromItsChangesUntilTheIntervalEndsOrAChangeFails) {
    using namespace std::chrono_literals;
    std::chrono::steady_clock::time_point now;
    auto fw = firewall("nft", {60s, [&] { return now; }});
    EXPECT_FALSE(fw->heldAddressesVersion()) << "nothing is known before the first reading";
    EXPECT_TRUE(fw->blockedAddresses().empty());
    const std::optional<std::uint64_t> first = fw->heldAddressesVersion();
    ASSERT_TRUE(first);

    nft({"add", "element", "inet", "rdp_ostrel", BlockedV4Set, "{ 198.51.100.4 }"}); // made from outside
    fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    fw->addRule("Autoblock_::ffff:203.0.113.8", "::ffff:203.0.113.8");
    fw->deleteRule("Autoblock_203.0.113.8", "203.0.113.8");
    EXPECT_EQ(sorted(fw->blockedAddresses()), std::vector<std::string>{"203.0.113.7"});
    const std::optional<std::uint64_t> changed = fw->heldAddressesVersion();
    ASSERT_TRUE(changed);
    EXPECT_NE(*changed, *first);
    fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
    EXPECT_EQ(fw->heldAddressesVersion(), changed) << "a change that changes nothing keeps the version";

    now += 59s;
    EXPECT_EQ(fw->heldAddressesVersion(), changed);
    now += 1s;
    EXPECT_FALSE(fw->heldAddressesVersion()) << "the interval is over";
    EXPECT_EQ(sorted(fw->blockedAddresses()), (std::vector<std::string>{"198.51.100.4", "203.0.113.7"}));
    ASSERT_TRUE(fw->heldAddressesVersion());

    // A set of the wrong kind: the add fails, and the table is listed again.
    nft({"delete", "table", "inet", "rdp_ostrel"});
    nft({"add", "table", "inet", "rdp_ostrel"});
    nft({"add", "set", "inet", "rdp_ostrel", BlockedV4Set, "{ type ipv6_addr; }"});
    fw->addRule("Autoblock_203.0.113.9", "203.0.113.9");
    EXPECT_FALSE(fw->heldAddressesVersion()) << "a change failed";
    EXPECT_TRUE(fw->blockedAddresses().empty());
    EXPECT_TRUE(m_op.hasLineContaining(" - Firewall: could not add 203.0.113.9"));
}

TEST_F(NftablesFirewallInNamespace, RefusesAddressesOfNoSingleHost) {
    auto fw = firewall();
    for (const char* address : {"0.0.0.0", "255.255.255.255", "224.0.0.1", "::", "ff02::1"})
        fw->addRule(std::string("Autoblock_") + address, address);
    EXPECT_TRUE(fw->blockedAddresses().empty());
    EXPECT_TRUE(m_op.hasLine(" - Firewall: refused to add '255.255.255.255' (not a single host)"));
    EXPECT_EQ(m_op.lines().size(), 5u);
}

TEST_F(NftablesFirewallInNamespace, ListingThatFailsRaises) {
    auto fw = firewall("/nonexistent/nft");
    EXPECT_THROW(fw->blockedAddresses(), Error);
}

// These never reach nftables: the program given as nft is not nft.
TEST(NftablesFirewall, LogsEveryChangeWhenNftCannotBeStartedOrFails) {
    struct Case {
        std::string nftPath;
        std::string error;
    };
    const Case cases[] = {
        {"/nonexistent/nft", "Cannot start /nonexistent/nft: No such file or directory"},
        {"/bin/false", "exit status 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nftPath);
        RecordingOperator op;
        NftablesOptions options;
        options.nftPath = c.nftPath;
        {
            auto fw = makeNftablesFirewall(op, options);
            fw->addRule("Autoblock_203.0.113.7", "203.0.113.7");
            fw->addRule("Autoblock_203.0.113.8", "203.0.113.8");
            fw->deleteRule("Autoblock_2001:db8::7", "2001:db8::7");
        }
        EXPECT_EQ(op.lines(), (std::vector<std::string>{
                                  " - Firewall: could not set up the nftables table inet rdp_ostrel (" + c.error + ")",
                                  " - Firewall: could not add 203.0.113.7 (" + c.error + ")",
                                  " - Firewall: could not add 203.0.113.8 (" + c.error + ")",
                                  " - Firewall: could not delete 2001:db8::7 (" + c.error + ")"}));
    }
}

TEST(NftablesFirewall, RefusesATableNameNftWouldNotTake) {
    RecordingOperator op;
    NftablesOptions options;
    options.nftPath = "/bin/false";
    options.table = "rdp_ostrel; flush ruleset";
    EXPECT_THROW(makeNftablesFirewall(op, options), EInvalidIdentifier);
}

} // namespace
} // namespace ostrel::platform
