#include "guard/GuardTestSupport.h"
#include "guard/GuardTimer.h"
#include "platform/linux/NftablesFirewall.h"
#include "support/linux/NetworkNamespace.h"
#include "support/linux/TcpProbe.h"

#include <chrono>
#include <gtest/gtest.h>

namespace ostrel {
namespace {

using namespace std::chrono_literals;

class QuietProgress : public PassProgress {
public:
    void setMaximum(int) override {}
    void stepIt() override {}
    void reset() override {}
};

// Whether the attacker reaches the guarded machine, asked until `expected` holds or the
// deadline passes (the first handshake may wait for neighbour discovery).
bool reachesWithin(const test::NetworkNamespace& attacker, std::uint16_t port, bool expected,
                   std::chrono::seconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    bool reached = !expected;
    do {
        reached = attacker.run([&] { return test::connectsFrom("203.0.113.7", "203.0.113.1", port, 700ms); });
    } while (reached != expected && std::chrono::steady_clock::now() < end);
    return reached;
}

TEST(GuardEndToEnd, PassBlocksTheAttackerAndAPassAfterItsRevokeLetsItInAgain) {
    OSTREL_REQUIRE_TEST_DB();
    if (!test::NetworkNamespace::available())
        GTEST_SKIP() << test::NetworkNamespace::unavailableReason();
    test::NetworkNamespace guarded;
    test::NetworkNamespace attacker;
    test::linkByVeth(guarded, {"203.0.113.1/24"}, attacker, {"203.0.113.7/24"});
    const auto listener = guarded.run([] { return std::make_unique<test::TcpListener>(); });

    test::TestTables tables;
    test::RecordingOperator firewallOp;
    auto firewall = platform::makeNftablesFirewall(firewallOp, {"rdp_ostrel", "nft", guarded.name()});
    test::TestContext ctx(&tables, firewall.get());
    test::TestChannel channel;
    ctx.settings.set(&SettingsValues::LastRecord, std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    QuietProgress progress;
    GuardTimer timer(ctx.context, channel.source, progress);

    ASSERT_TRUE(reachesWithin(attacker, listener->port(), true, 10s)) << "the namespaces are not linked";

    channel.appendFailedLogons({"203.0.113.7", "203.0.113.7"});
    timer.singlePass();
    firewall->drain();

    EXPECT_TRUE(ctx.op.hasLine(" - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!"));
    EXPECT_FALSE(reachesWithin(attacker, listener->port(), false, 5s)) << "the attacker is not blocked";

    timer.singlePass();
    firewall->drain();
    EXPECT_FALSE(reachesWithin(attacker, listener->port(), false, 5s)) << "released before its revoke";

    tables.exec("UPDATE " + tables.firewall() + " SET `revoke` = DATE_SUB(NOW(), INTERVAL 1 SECOND)");
    timer.singlePass();
    firewall->drain();

    EXPECT_TRUE(ctx.op.hasLine(" - Firewallentry 203.0.113.7 deleted.", Pane::Clearlog));
    EXPECT_TRUE(reachesWithin(attacker, listener->port(), true, 5s)) << "the attacker is still blocked";
    EXPECT_TRUE(firewallOp.lines().empty()) << firewallOp.lines().front();
}

} // namespace
} // namespace ostrel
