#include "platform/Addresses.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

namespace ostrel::platform {
namespace {

struct AddressCase {
    std::string text;
    bool literal;
    bool ipv6;
    bool loopback;
};

// Everything the firewall command is handed passes through these checks first.
const AddressCase addressCases[] = {
    {"203.0.113.7", true, false, false},
    {"198.51.100.255", true, false, false},
    {"0.0.0.0", true, false, false},
    {"2001:db8::7", true, true, false},
    {"2001:DB8:0:0:0:0:0:7", true, true, false},
    {"::ffff:203.0.113.7", true, true, false},
    {"::", true, true, false},
    {"127.0.0.1", true, false, true},
    {"127.255.255.254", true, false, true},
    {"::1", true, true, true},
    {"0:0:0:0:0:0:0:1", true, true, true},
    {"::ffff:127.0.0.1", true, true, true},
    {"128.0.0.1", true, false, false},
    {"", false, false, false},
    {"localhost", false, false, false},
    {"rdp.example.com", false, false, false},
    {"203.0.113.7; flush ruleset", false, false, false},
    {"203.0.113.7 }; flush ruleset; add element inet x y { 1.1.1.1", false, false, false},
    {" 203.0.113.7", false, false, false},
    {"203.0.113.7 ", false, false, false},
    {"203.0.113.7\n", false, false, false},
    {std::string("203.0.113.7\0flush ruleset", 25), false, false, false},
    {"203.0.113", false, false, false},
    {"203.0.113.256", false, false, false},
    {"0177.0.0.1", false, false, false},
    {"0x7f.0.0.1", false, false, false},
    {"2130706433", false, false, false},
    {"203.0.113.7/32", false, false, false},
    {"2001:db8::7%eth0", false, false, false},
    {"[2001:db8::7]", false, false, false},
    {"2001:db8:::7", false, false, false},
};

TEST(Addresses, ClassifiesTexts) {
    for (const auto& c : addressCases) {
        SCOPED_TRACE("address text '" + c.text + "'");
        EXPECT_EQ(isIpLiteral(c.text), c.literal);
        EXPECT_EQ(isIPv6Literal(c.text), c.ipv6);
        EXPECT_EQ(isLoopbackAddress(c.text), c.loopback);
    }
}

struct SpellingCase {
    std::string text;
    AddressFamily family;
    std::string written;
};

// The spelling that goes into a firewall script: one per address, and an IPv4-mapped address
// lands in the IPv4 set, where its packets are matched.
const SpellingCase spellingCases[] = {
    {"203.0.113.7", AddressFamily::IPv4, "203.0.113.7"},
    {"2001:DB8:0:0:0:0:0:7", AddressFamily::IPv6, "2001:db8::7"},
    {"2001:db8::", AddressFamily::IPv6, "2001:db8::"},
    {"::ffff:203.0.113.7", AddressFamily::IPv4, "203.0.113.7"},
    {"::FFFF:cb00:7107", AddressFamily::IPv4, "203.0.113.7"},
};

TEST(Addresses, WritesOneSpellingPerAddress) {
    for (const auto& c : spellingCases) {
        SCOPED_TRACE("address text '" + c.text + "'");
        const auto literal = parseIpLiteral(c.text);
        ASSERT_TRUE(literal.has_value());
        EXPECT_EQ(literal->family, c.family);
        EXPECT_EQ(literal->text, c.written);
    }
}

} // namespace
} // namespace ostrel::platform
