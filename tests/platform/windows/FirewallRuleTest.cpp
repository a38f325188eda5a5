#include "platform/windows/FirewallRule.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace ostrel::test {
namespace {

using platform::addressOfRuleName;
using platform::blockRuleFor;

constexpr long AnyProtocol = 256;        // NET_FW_IP_PROTOCOL_ANY
constexpr long Inbound = 1;              // NET_FW_RULE_DIR_IN
constexpr long Block = 0;                // NET_FW_ACTION_BLOCK
constexpr long AllProfiles = 0x7FFFFFFF; // NET_FW_PROFILE2_ALL

TEST(FirewallRule, AnAddressMakesOneInboundBlockRuleForAnyProtocolInEveryProfile) {
    struct Case {
        std::string address;
        std::string remote; // as the rule carries it
    };
    const Case cases[] = {
        {"203.0.113.5", "203.0.113.5"},
        {"198.51.100.200", "198.51.100.200"},
        {"2001:db8::1", "2001:db8::1"},
        {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
        {"2001:db8:85a3::8a2e:370:7334", "2001:db8:85a3::8a2e:370:7334"},
        // An IPv4 client seen through a dual-stack socket is blocked as the IPv4 address it is.
        {"::ffff:203.0.113.9", "203.0.113.9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const auto rule = blockRuleFor("Autoblock_" + c.address, c.address);
        ASSERT_TRUE(rule.has_value());
        EXPECT_EQ(rule->name, "Autoblock_" + c.address);
        EXPECT_EQ(rule->remoteAddress, c.remote);
        EXPECT_EQ(rule->protocol, AnyProtocol);
        EXPECT_EQ(rule->direction, Inbound);
        EXPECT_EQ(rule->action, Block);
        EXPECT_EQ(rule->profiles, AllProfiles);
        EXPECT_TRUE(rule->enabled);
    }
}

TEST(FirewallRule, NothingButAnAddressThatMayBeBlockedBecomesARule) {
    const std::string refused[] = {
        "",
        "127.0.0.1",
        "127.8.9.10",
        "::1",
        "::ffff:127.0.0.1",
        "203.0.113.5/24",
        "203.0.113.256",
        " 203.0.113.5",
        "203.0.113.5 ",
        "any",
        "203.0.113.5,198.51.100.1",
        "localhost",
        std::string("203.0.113.5\0x", 13),
    };
    for (const std::string& address : refused)
        EXPECT_FALSE(blockRuleFor("Autoblock_" + address, address).has_value()) << "'" << address << "'";
    EXPECT_FALSE(blockRuleFor("", "203.0.113.5").has_value()) << "a rule without a name";
}

TEST(FirewallRule, TheAddressOfARuleIsReadFromItsNameOnlyForRulesOfOurOwn) {
    struct Case {
        std::string name;
        std::optional<std::string> address;
    };
    const Case cases[] = {
        {"Autoblock_203.0.113.5", "203.0.113.5"},
        {"Autoblock_2001:DB8::7", "2001:db8::7"},
        {"Autoblock_", std::nullopt},
        {"Autoblock_evil", std::nullopt},
        {"autoblock_203.0.113.5", std::nullopt},
        {"Remote Desktop - User Mode (TCP-In)", std::nullopt},
        {"Block_203.0.113.5", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(addressOfRuleName(c.name), c.address) << c.name;
}

// Wine keeps no rules, so only this decision can be shown here: which rule of the program's name
// counts as the block already and which is replaced. The replacing itself needs Windows.
TEST(FirewallRule, OnlyAnEnabledInboundBlockOfExactlyThatAddressCountsAsTheBlock) {
    using platform::blocksAsWanted;
    using platform::ExistingRule;
    const auto wanted4 = *blockRuleFor("Autoblock_203.0.113.5", "203.0.113.5");
    const auto wanted6 = *blockRuleFor("Autoblock_2001:db8::5", "2001:db8::5");
    const ExistingRule asMade4{"203.0.113.5/255.255.255.255", AnyProtocol, Inbound, Block, AllProfiles, true};
    const ExistingRule asMade6{"2001:db8::5/128", AnyProtocol, Inbound, Block, AllProfiles, true};
    struct Case {
        const char* what;
        ExistingRule existing;
        const platform::FirewallRule& wanted;
        bool counts;
    };
    const auto with = [](ExistingRule rule, auto change) {
        change(rule);
        return rule;
    };
    const Case cases[] = {
        {"the rule as made, IPv4", asMade4, wanted4, true},
        {"the rule as made, IPv6", asMade6, wanted6, true},
        {"a bare address", with(asMade4, [](ExistingRule& r) { r.remoteAddresses = "203.0.113.5"; }), wanted4, true},
        {"disabled", with(asMade4, [](ExistingRule& r) { r.enabled = false; }), wanted4, false},
        {"another address", with(asMade4, [](ExistingRule& r) { r.remoteAddresses = "203.0.113.6/255.255.255.255"; }),
         wanted4, false},
        {"a whole network", with(asMade4, [](ExistingRule& r) { r.remoteAddresses = "203.0.113.0/255.255.255.0"; }),
         wanted4, false},
        {"one more address",
         with(asMade4,
              [](ExistingRule& r) { r.remoteAddresses = "203.0.113.5/255.255.255.255,198.51.100.1/255.255.255.255"; }),
         wanted4, false},
        {"any address", with(asMade4, [](ExistingRule& r) { r.remoteAddresses = "*"; }), wanted4, false},
        {"allowing", with(asMade4, [](ExistingRule& r) { r.action = 1; }), wanted4, false},
        {"outbound", with(asMade4, [](ExistingRule& r) { r.direction = 2; }), wanted4, false},
        {"TCP only", with(asMade4, [](ExistingRule& r) { r.protocol = 6; }), wanted4, false},
        {"the domain profile only", with(asMade4, [](ExistingRule& r) { r.profiles = 1; }), wanted4, false},
        {"an IPv6 rule of another address",
         with(asMade6, [](ExistingRule& r) { r.remoteAddresses = "2001:db8::6/128"; }), wanted6, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(blocksAsWanted(c.existing, c.wanted), c.counts) << c.what;
}

} // namespace
} // namespace ostrel::test
