#include "PitFixture.h"

#include <future>

namespace ostrel::test {
namespace {

// At most ten connection threads at a time; further peers wait in the listen queue.
constexpr int ConnectionLimit = 10;

// Connections held inside their block operation by a write lock on the active-block table.
class PitBusy : public PitTest {
protected:
    void SetUp() override {
        PitTest::SetUp();
        if (IsSkipped())
            return;
        start();
        m_lock.emplace(*m_tables, m_tables->firewall());
    }
    void TearDown() override {
        m_lock.reset();
        PitTest::TearDown();
    }

    std::optional<TableLock> m_lock;
};

TEST_F(PitBusy, TheEleventhPeerIsAcceptedOnlyWhenOneOfTenBusyConnectionsEnds) {
    std::vector<HoneypotPeer> busy;
    for (int i = 0; i < ConnectionLimit; ++i)
        busy.push_back(connect("203.0.113." + std::to_string(11 + i)));
    ASSERT_TRUE(m_op.waitForTarpitSize(ConnectionLimit));

    // The kernel completes the handshake; the peer then waits in the listen queue, not refused.
    const HoneypotPeer eleventh = connect("203.0.113.21");
    ASSERT_TRUE(m_net->run([&] { return eventually([&] { return acceptQueueLength(m_port) == 1; }); }))
        << "the eleventh peer never reached the listen queue";
    EXPECT_FALSE(m_op.waitUntil([&] { return m_op.tarpit().size() > ConnectionLimit; }, 300ms))
        << "the eleventh peer was accepted while ten connections were busy";
    EXPECT_EQ(m_net->run([&] { return acceptQueueLength(m_port); }), 1);
    EXPECT_FALSE(eleventh.waitClosed(0ms));

    m_lock.reset();
    EXPECT_TRUE(eleventh.waitClosed(Patience));
    for (const HoneypotPeer& peer : busy)
        EXPECT_TRUE(peer.waitClosed(Patience));
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(m_op.tarpitHistory().size(), 2u * (ConnectionLimit + 1));
    EXPECT_EQ(rowsFor("203.0.113.21"), 1);
    EXPECT_EQ(m_pit->connectionThreadPeak(), ConnectionLimit);
}

TEST_F(PitBusy, KickClosesTheLiveConnectionsOfExactlyThatAddress) {
    std::vector<HoneypotPeer> kicked;
    for (int i = 0; i < 3; ++i)
        kicked.push_back(connect("203.0.113.7"));
    const HoneypotPeer other = connect("203.0.113.8");
    ASSERT_TRUE(m_op.waitForTarpitSize(4));

    struct Case {
        std::string address;
        int closed;
    };
    const Case nothing[] = {{"", 0}, {"203.0.113.9", 0}, {"203.0.113.70", 0}, {" 203.0.113.7", 0}};
    for (const Case& c : nothing) {
        SCOPED_TRACE("kick \"" + c.address + "\"");
        EXPECT_EQ(m_pit->kick(c.address), c.closed);
    }
    for (const HoneypotPeer& peer : kicked)
        EXPECT_FALSE(peer.waitClosed(0ms));
    EXPECT_EQ(m_op.tarpit().size(), 4u);

    EXPECT_EQ(m_pit->kick("203.0.113.7"), 3);
    for (const HoneypotPeer& peer : kicked)
        EXPECT_TRUE(peer.waitClosed(Patience));
    EXPECT_FALSE(other.waitClosed(0ms));
    // Kicked connections finish the block operation they are in; only then do their entries go.
    EXPECT_EQ(m_op.tarpit().size(), 4u);

    m_lock.reset();
    EXPECT_TRUE(other.waitClosed(Patience));
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_GE(rowsFor("203.0.113.7"), 1);
    EXPECT_EQ(rowsFor("203.0.113.8"), 1);
    EXPECT_EQ(m_pit->kick("203.0.113.7"), 0);
}

TEST_F(PitBusy, AStopWaitsForTheBlockUnderWayThenTheListIsEmpty) {
    const HoneypotPeer peer = connect("203.0.113.5");
    ASSERT_TRUE(m_op.waitForTarpitSize(1));

    auto stopped = std::async(std::launch::async, [&] { stop(portText()); });
    // The stop cuts the peer at once, then waits for the connection's thread.
    EXPECT_TRUE(peer.waitClosed(Patience));
    m_lock.reset();
    stopped.get();

    EXPECT_FALSE(m_pit->active());
    EXPECT_TRUE(m_op.tarpit().empty());
    EXPECT_EQ(rowsFor("203.0.113.5"), 1);
    const auto lines = m_op.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], " - [Honeypot-Block] IP 203.0.113.5 is blocked for 45 minutes!");
    EXPECT_EQ(lines.back(), " - Honeypot on " + std::string(Adapter) + ":" + portText() + " stopped.");
}

} // namespace
} // namespace ostrel::test
