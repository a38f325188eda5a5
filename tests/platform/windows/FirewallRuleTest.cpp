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

} // namespace
} // namespace ostrel::test
