#include "PitFixture.h"
#include "blocking/CleanFirewall.h"
#include "support/StepGate.h"
#include "support/linux/NftablesInspection.h"

#include <exception>
#include <thread>

namespace ostrel::test {
namespace {

// The honeypot's block of a peer and the release of the same address meet, each stopped at its
// critical step until the other one waits for it; real nftables in the honeypot's namespace.
class PitFirewallOrder : public PitTest {
protected:
    bool withNftables() const override { return true; }

    void addExpiredBlock(const std::string& ip) {
        m_tables->exec("INSERT INTO " + m_tables->firewall() +
                       " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(),"
                       " DATE_SUB(NOW(), INTERVAL 1 MINUTE), \"" +
                       ip + "\", ' - Counter: 1 - Honeypot-Block', 'netsh', 'Honeypot-Block')");
    }
    bool activeRow(const std::string& ip) const {
        return m_tables->scalar("SELECT COUNT(*) AS value FROM " + m_tables->firewall() + " WHERE IP = \"" + ip +
                                "\" AND `revoke` > NOW()") == 1;
    }
    bool inSet(const std::string& ip) {
        m_nftables->drain();
        return setElements(*m_net, "rdp_ostrel", "blocked_v4").contains(ip);
    }
};

TEST_F(PitFirewallOrder, TheSetHoldsThePeerWhileItsRowIsActiveWhicheverComesFirst) {
    struct Order {
        const char* name;
        FirewallLock::Step stoppedAt;
        bool peerFirst;
        std::string line;
    };
    const Order orders[] = {
        {"release, then the peer", FirewallLock::Step::ReleaseCommitted, false,
         " - [Honeypot-Block] IP 203.0.113.7 is blocked for 90 minutes!"},
        {"the peer, then release", FirewallLock::Step::BlockCounted, true,
         " - [Honeypot-Block] IP 203.0.113.7 - Blocktime extendet by 45 minutes!"},
    };
    start();
    FirewallLock& lock = *m_context->firewallLock;
    for (const Order& order : orders) {
        SCOPED_TRACE(order.name);
        m_tables->exec("DELETE FROM " + m_tables->firewall() + ";\nDELETE FROM " + m_tables->history() + ";");
        m_op.clear();
        // The row's rule is gone already (a failed command), so the peer can still connect.
        addExpiredBlock("203.0.113.7");

        std::exception_ptr releaseFailure;
        const auto release = [&] {
            try {
                CleanFirewall(*m_context);
            } catch (...) {
                releaseFailure = std::current_exception();
            }
        };
        StepGate gate(lock, order.stoppedAt);
        std::optional<HoneypotPeer> peer;
        std::thread releaser;
        if (order.peerFirst) {
            peer.emplace(connect("203.0.113.7"));
            ASSERT_TRUE(gate.waitUntilStopped());
            releaser = std::thread(release);
        } else {
            releaser = std::thread(release);
            ASSERT_TRUE(gate.waitUntilStopped());
            peer.emplace(connect("203.0.113.7"));
        }
        const bool secondWaited = lock.waitForWaiters(1, Patience);
        gate.open();
        releaser.join();
        ASSERT_TRUE(secondWaited) << "the second one did not wait for the first";
        ASSERT_TRUE(peer->waitClosed(Patience));
        ASSERT_TRUE(waitUntilIdle());
        if (releaseFailure)
            std::rethrow_exception(releaseFailure);

        EXPECT_TRUE(activeRow("203.0.113.7"));
        EXPECT_TRUE(inSet("203.0.113.7"));
        EXPECT_TRUE(m_op.hasLine(order.line));
        EXPECT_TRUE(m_nftablesOp.lines().empty());
        // The next peer of the round comes from the same address: let it in again.
        m_net->execChecked({"nft", "flush", "set", "inet", "rdp_ostrel", "blocked_v4"});
    }
}

} // namespace
} // namespace ostrel::test
