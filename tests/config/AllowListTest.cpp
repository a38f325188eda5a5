#include "config/AllowList.h"

#include "settings/Settings.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace ostrel {
namespace {

struct MatchCase {
    const char* entries;
    std::vector<const char*> allowed;
    std::vector<const char*> refused;
};

TEST(AllowList, EntriesAgainstAddresses) {
    const MatchCase cases[] = {
        {"203.0.113.7",
         {"203.0.113.7", " 203.0.113.7 ", "::ffff:203.0.113.7", "::FFFF:cb00:7107", "0:0:0:0:0:ffff:203.0.113.7"},
         {"203.0.113.8", "203.0.113.70", "203.0.113", "2001:db8::7", "::203.0.113.7", ""}},
        {"2001:db8::7",
         {"2001:db8::7", "2001:DB8:0:0:0:0:0:7", "2001:0db8:0000::0007"},
         {"2001:db8::8", "2001:db8::7:0", "203.0.113.7", "2001:db8::7%eth0"}},
        {"203.0.113.0/24",
         {"203.0.113.0", "203.0.113.255", "::ffff:203.0.113.99"},
         {"203.0.112.255", "203.0.114.0", "198.51.100.1"}},
        {"203.0.113.128/25", {"203.0.113.128", "203.0.113.200"}, {"203.0.113.127", "203.0.113.0"}},
        {"198.51.100.77/20", {"198.51.96.0", "198.51.111.255"}, {"198.51.95.255", "198.51.112.0"}},
        {"2001:db8::/32",
         {"2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff", "2001:DB8:1::1"},
         {"2001:db9::", "2001:db7:ffff::1", "203.0.113.7"}},
        {"2001:db8:0:8000::/49", {"2001:db8:0:8000::1", "2001:db8:0:ffff::"}, {"2001:db8:0:7fff::"}},
        {"::ffff:203.0.113.0/120", {"203.0.113.5", "::ffff:203.0.113.5"}, {"203.0.114.5"}},
        {"0.0.0.0/0", {"198.51.100.1", "203.0.113.1"}, {"2001:db8::1"}},
        {"::/0", {"2001:db8::1", "203.0.113.1"}, {"not an address"}},
        {"203.0.113.7/32", {"203.0.113.7"}, {"203.0.113.6"}},
        {"2001:db8::1:0:0:1/128", {"2001:db8:0:0:1::1"}, {"2001:db8::1"}},
        {"no-address, 203.0.113.7,,2001:db8::/32\t198.51.100.0/24  ",
         {"203.0.113.7", "2001:db8:5::5", "198.51.100.9"},
         {"203.0.113.8", "no-address"}},
        {"", {}, {"203.0.113.7", "2001:db8::1", "::"}},
    };
    for (const MatchCase& c : cases) {
        const AllowList list = AllowList::parse(c.entries);
        for (const char* address : c.allowed)
            EXPECT_TRUE(list.allows(address)) << "'" << c.entries << "' allows '" << address << "'";
        for (const char* address : c.refused)
            EXPECT_FALSE(list.allows(address)) << "'" << c.entries << "' does not allow '" << address << "'";
    }
}

TEST(AllowList, EntriesThatAreNoAddressOrRangeAreSetApart) {
    const std::vector<std::string> invalid = {
        "host.example",     "203.0.113",         "203.0.113.256",     "203.0.113.7.1",
        "203.0.113.0/33",   "2001:db8::/129",    "2001:db8::/",       "/24",
        "1::2::3",          "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7:8::", "2001:db8::g",
        "2001:db8::7%eth0", "[2001:db8::7]",     "203.0.113.0/24/8",  "-1.2.3.4",
        "12345::",          "203.0.113.7:3389",  "1.2.3.4::"};
    std::string text = "203.0.113.9";
    for (const std::string& entry : invalid)
        text += ", " + entry;
    const AllowList list = AllowList::parse(text);
    EXPECT_EQ(list.invalidEntries(), invalid);
    EXPECT_TRUE(list.allows("203.0.113.9")) << "the valid entry still counts";

    const AllowList valid = AllowList::parse("203.0.113.7 2001:db8::/32,::, ::ffff:1.2.3.4 0.0.0.0/0 ::1/128");
    EXPECT_TRUE(valid.invalidEntries().empty());
}

TEST(AllowList, TheLiveSettingIsReadAtEachUse) {
    Settings settings;
    EXPECT_FALSE(onAllowList(settings, "203.0.113.7"));
    settings.set(&SettingsValues::AllowList, std::string("203.0.113.0/24"));
    EXPECT_TRUE(onAllowList(settings, "203.0.113.7"));
    settings.set(&SettingsValues::AllowList, std::string("198.51.100.0/24"));
    EXPECT_FALSE(onAllowList(settings, "203.0.113.7"));
    EXPECT_TRUE(onAllowList(settings, "198.51.100.7"));
}

} // namespace
} // namespace ostrel
