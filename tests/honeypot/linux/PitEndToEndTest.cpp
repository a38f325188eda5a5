#include "PitFixture.h"
#include "platform/FirewallCommand.h"
#include "platform/linux/NftablesFirewall.h"
#include "support/linux/TcpProbe.h"

namespace ostrel::test {
namespace {

// Long enough for a handshake between namespaces on a loaded machine; a dropped SYN waits it out.
constexpr auto Reachable = 5000ms;
constexpr auto Dropped = 1500ms;

// The honeypot in a guarded namespace with the real nftables firewall, an attacker namespace
// and a third namespace, each joined to the guarded one by a veth pair of its own.
class PitEndToEnd : public PitTest {
protected:
    void SetUp() override {
        PitTest::SetUp();
        if (IsSkipped())
            return;
        m_attacker.emplace();
        m_neighbour.emplace();
        linkByVeth(*m_net, {"203.0.113.1/28"}, *m_attacker, {"203.0.113.7/28"}, "veth0");
        linkByVeth(*m_net, {"198.51.100.1/24"}, *m_neighbour, {"198.51.100.8/24"}, "veth1");
        platform::NftablesOptions options;
        options.netns = m_net->name();
        m_nftables = platform::makeNftablesFirewall(m_op, options);
        m_context.emplace(OperationContext{m_settings, *m_ini, m_op, *m_nftables, *m_report});
    }
    void TearDown() override {
        PitTest::TearDown();
        m_nftables.reset();
    }

    bool reaches(const NetworkNamespace& from, const std::string& source, const std::string& destination,
                 std::chrono::milliseconds timeout) {
        return from.run([&] { return connectsFrom(source, destination, m_port, timeout); });
    }

    std::optional<NetworkNamespace> m_attacker;
    std::optional<NetworkNamespace> m_neighbour;
    std::unique_ptr<platform::FirewallCommand> m_nftables;
};

TEST_F(PitEndToEnd, APeerThatTouchedTheHoneypotIsDroppedWhileOthersStillConnect) {
    start();
    const HoneypotPeer attack = m_attacker->run([&] { return HoneypotPeer("203.0.113.7", Adapter, m_port); });
    ASSERT_TRUE(attack.waitClosed(Patience));
    ASSERT_TRUE(waitUntilIdle());
    ASSERT_EQ(rowsFor("203.0.113.7"), 1);
    m_nftables->drain();

    EXPECT_FALSE(reaches(*m_attacker, "203.0.113.7", Adapter, Dropped));
    EXPECT_TRUE(reaches(*m_neighbour, "198.51.100.8", "198.51.100.1", Reachable));
    ASSERT_TRUE(m_op.waitForRemoval("198.51.100.8"));
    EXPECT_EQ(rowsFor("198.51.100.8"), 1);
    EXPECT_FALSE(m_op.hasLineContaining(" - Firewall: "));
}

} // namespace
} // namespace ostrel::test
