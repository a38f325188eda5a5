#include "platform/portable/Addresses.h"

#include <gtest/gtest.h>
#include <optional>

namespace ostrel::platform {
namespace {

struct AddressCase {
    std::string text;
    bool literal;
    bool ipv6; // a literal of the IPv6 family (an IPv4-mapped one is IPv4)
    bool loopback;
};

// Everything the firewall command is handed passes through these checks first.
const AddressCase addressCases[] = {
    {"203.0.113.7", true, false, false},
    {"198.51.100.255", true, false, false},
    {"0.0.0.0", true, false, false},
    {"2001:db8::7", true, true, false},
    {"2001:DB8:0:0:0:0:0:7", true, true, false},
    {"::ffff:203.0.113.7", true, false, false},
    {"::", true, true, false},
    {"127.0.0.1", true, false, true},
    {"127.255.255.254", true, false, true},
    {"::1", true, true, true},
    {"0:0:0:0:0:0:0:1", true, true, true},
    {"::ffff:127.0.0.1", true, false, true},
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
        const std::optional<IpLiteral> literal = parseIpLiteral(c.text);
        EXPECT_EQ(literal.has_value(), c.literal);
        EXPECT_EQ(literal && literal->family == AddressFamily::IPv6, c.ipv6);
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

struct CanonicalCase {
    std::string text;
    std::optional<std::string> canonical;
};

// Every spelling of one address comes out as one text; what is no address stays none.
const CanonicalCase canonicalCases[] = {
    {"203.0.113.9", "203.0.113.9"},
    {"203.0.113.9 ", "203.0.113.9"},
    {" \t203.0.113.9\r\n", "203.0.113.9"},
    {"203.000.113.009", "203.0.113.9"},
    {"::ffff:203.0.113.9", "203.0.113.9"},
    {"::FFFF:CB00:7109", "203.0.113.9"},
    {"2001:db8::5", "2001:db8::5"},
    {"2001:0DB8:0:0::5", "2001:db8::5"},
    {"2001:DB8:0:0:0:0:0:5", "2001:db8::5"},
    {" 2001:db8::5 ", "2001:db8::5"},
    {"198.51.100.0", "198.51.100.0"},
    {"", std::nullopt},
    {"   ", std::nullopt},
    {"203.0.113", std::nullopt},
    {"203.0.113.256", std::nullopt},
    {"203.0.113.0256", std::nullopt},
    {"0x7f.0.0.1", std::nullopt},
    {"2130706433", std::nullopt},
    {"203.0.113.9 x", std::nullopt},
    {"203. 0.113.9", std::nullopt},
    {"203.0.113.9/32", std::nullopt},
    {"2001:db8::5%eth0", std::nullopt},
    {std::string("203.0.113.9\0", 12), std::nullopt},
    {"rdp.example.com", std::nullopt},
};

TEST(Addresses, CanonicalTextOfEverySpelling) {
    for (const auto& c : canonicalCases) {
        SCOPED_TRACE("address text '" + c.text + "'");
        EXPECT_EQ(canonicalAddress(c.text), c.canonical);
        if (c.canonical) {
            EXPECT_TRUE(parseIpLiteral(*c.canonical)) << "the canonical text must pass the firewall's own check";
            EXPECT_EQ(canonicalAddress(*c.canonical), c.canonical);
        }
    }
}

TEST(Addresses, SingleHostAddresses) {
    const std::pair<std::string, bool> cases[] = {
        {"203.0.113.9", true},     {"198.51.100.255", true},   {"2001:db8::5", true},     {"223.255.255.255", true},
        {"240.0.0.1", true},       {"0.0.0.0", false},         {"0.1.2.3", false},        {"::", false},
        {"::ffff:0.0.0.0", false}, {"255.255.255.255", false}, {"224.0.0.1", false},      {"239.255.255.250", false},
        {"ff02::1", false},        {"FF05::2", false},         {"not an address", false}, {" 0.0.0.0 ", false},
    };
    for (const auto& [text, single] : cases)
        EXPECT_EQ(isSingleHostAddress(text), single) << text;
}

} // namespace
} // namespace ostrel::platform
