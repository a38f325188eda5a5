#include "guard/GuardTestSupport.h"
#include "guard/GuardTimer.h"
#include "platform/linux/NftablesFirewall.h"
#include "support/linux/NetworkNamespace.h"
#include "support/linux/NftablesInspection.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace ostrel {
namespace {

class QuietProgress : public PassProgress {
public:
    void setMaximum(int) override {}
    void stepIt() override {}
    void reset() override {}
};

// Sightings of one address in every spelling the event log may give count as one address: one
// watch-list text, one block, one set element, and one release that takes it away again. The
// RecordNumber lines still show each element as it was read.
TEST(AddressSpelling, EverySpellingIsStoredCountedBlockedAndReleasedAsOneAddress) {
    OSTREL_REQUIRE_TEST_DB();
    if (!test::NetworkNamespace::available())
        GTEST_SKIP() << test::NetworkNamespace::unavailableReason();
    struct Case {
        std::string canonical;
        const char* set;
        std::vector<std::string> spellings; // oldest first
    };
    const std::vector<Case> cases = {
        {"203.0.113.9",
         "blocked_v4",
         {"203.0.113.9", "::ffff:203.0.113.9", "203.000.113.009", "::FFFF:CB00:7109", "203.0.113.9 "}},
        {"2001:db8::5",
         "blocked_v6",
         {"2001:db8::5", "2001:0DB8:0:0::5", "2001:DB8::5", " 2001:db8:0:0:0:0:0:5", "2001:db8::0005"}},
    };
    test::NetworkNamespace ns;
    test::TestTables tables;
    test::RecordingOperator firewallOp;
    auto firewall = platform::makeNftablesFirewall(firewallOp, {"rdp_ostrel", "nft", ns.name()});
    test::TestContext ctx(&tables, firewall.get());
    test::TestChannel channel;
    ctx.settings.set(&SettingsValues::LastRecord, std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    ctx.settings.set(&SettingsValues::BlockInvalidUserCount, std::string("4"));
    QuietProgress progress;
    GuardTimer timer(ctx.context, channel.source, progress);
    std::vector<std::string> all;
    for (const Case& c : cases)
        all.insert(all.end(), c.spellings.begin(), c.spellings.end());
    const std::int64_t last = channel.appendFailedLogons(all);

    timer.singlePass();

    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::string line =
            " - RecordNumber " + std::to_string(last - static_cast<std::int64_t>(all.size() - 1 - i)) + ": " + all[i];
        EXPECT_TRUE(ctx.op.hasLine(line)) << line;
    }
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.merkliste()), 0) << "sightings left unblocked";
    firewall->drain();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.canonical);
        EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall() + " WHERE BINARY IP = \"" +
                                c.canonical + "\""),
                  1);
        const auto lines = ctx.op.lines();
        EXPECT_EQ(
            std::count(lines.begin(), lines.end(), " - [RDP-Block] IP " + c.canonical + " is blocked for 120 minutes!"),
            1);
        EXPECT_EQ(test::setElements(ns, "rdp_ostrel", c.set),
                  (std::map<std::string, std::string>{{c.canonical, "Autoblock_" + c.canonical}}));
    }
    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall()), 2);

    tables.exec("UPDATE " + tables.firewall() + " SET `revoke` = DATE_SUB(NOW(), INTERVAL 1 SECOND)");
    timer.singlePass();
    firewall->drain();

    EXPECT_EQ(tables.scalar("SELECT COUNT(*) AS value FROM " + tables.firewall()), 0);
    for (const Case& c : cases) {
        EXPECT_TRUE(ctx.op.hasLine(" - Firewallentry " + c.canonical + " deleted.", Pane::Clearlog));
        EXPECT_TRUE(test::setElements(ns, "rdp_ostrel", c.set).empty()) << c.canonical;
    }
    EXPECT_TRUE(firewallOp.lines().empty());
}

} // namespace
} // namespace ostrel
