// The honeypot's connection handling over loopback only, so that it runs on every platform
// (under Wine for the Windows build). Loopback is never blocked, so these connections run with
// Debug on and are held inside their connect step by the operator, where the namespace tests
// hold them inside the block operation.
#include "blocking/AbuseReport.h"
#include "blocking/OperationContext.h"
#include "config/IniFile.h"
#include "honeypot/Pit.h"
#include "settings/Settings.h"
#include "support/LoopbackPeer.h"
#include "support/RecordingFirewallCommand.h"
#include "support/RecordingOperator.h"
#include "support/TempFolder.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <optional>

namespace ostrel::test {
namespace {

// At most ten connection threads at a time; further peers wait in the listen queue.
constexpr int ConnectionLimit = 10;

using namespace std::chrono_literals;

constexpr auto Patience = 20s;
constexpr const char* Adapter = "127.0.0.1";
const std::string ConnectLine = " - Honeypot connect from ";

// Holds every connection thread at its connect line until the gate opens, and lets the test
// wait for a state instead of sleeping.
class GatedOperator : public RecordingOperator {
public:
    void log(Pane pane, const std::string& message) override {
        std::unique_lock lock(m_gateMutex);
        RecordingOperator::log(pane, message);
        m_changed.notify_all();
        if (message.starts_with(ConnectLine)) {
            ++m_held;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_open; });
            --m_held;
        }
    }
    void tarpitAppend(const std::string& address) override {
        RecordingOperator::tarpitAppend(address);
        std::lock_guard lock(m_gateMutex);
        m_changed.notify_all();
    }
    void tarpitRemove(const std::string& address) override {
        RecordingOperator::tarpitRemove(address);
        std::lock_guard lock(m_gateMutex);
        ++m_removals;
        m_changed.notify_all();
    }

    void open() {
        std::lock_guard lock(m_gateMutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = Patience) {
        std::unique_lock lock(m_gateMutex);
        return m_changed.wait_for(lock, timeout, condition);
    }
    bool waitForHeld(int count) {
        return waitUntil([&] { return m_held == count; });
    }
    // For conditions of waitUntil, which run under the lock.
    int removals() const { return m_removals; }

private:
    std::mutex m_gateMutex;
    std::condition_variable m_changed;
    bool m_open = false;
    int m_held = 0;
    int m_removals = 0;
};

class PitLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        m_settings.set(&SettingsValues::Report, false);
        m_op.setDebug(true);
        m_op.setDetailLog(true);
        m_port = freeLoopbackHoneypotPort();
        m_pit.emplace(m_context, [] { return std::string(Adapter); });
        m_pit->start(m_port);
    }
    void TearDown() override {
        m_op.open();
        m_pit.reset();
    }

    LoopbackPeer connect(const std::string& source) { return LoopbackPeer(source, m_port); }
    std::string portText() const { return std::to_string(m_port); }

    TempFolder m_folder;
    Settings m_settings;
    IniFile m_ini{m_folder / "Config.ini"};
    GatedOperator m_op;
    RecordingFirewallCommand m_firewall;
    AbuseReport m_report{m_settings, m_op};
    OperationContext m_context{m_settings, m_ini, m_op, m_firewall, m_report};
    std::uint16_t m_port = 0;
    std::optional<Pit> m_pit;
};

TEST_F(PitLoopback, TheEleventhPeerIsTakenOnlyWhenOneOfTenBusyConnectionsEnds) {
    std::vector<LoopbackPeer> busy;
    for (int i = 0; i < ConnectionLimit; ++i)
        busy.push_back(connect("127.0.0." + std::to_string(11 + i)));
    ASSERT_TRUE(m_op.waitForHeld(ConnectionLimit));

    // The system completes the handshake; the peer then waits in the listen queue, not refused.
    const LoopbackPeer eleventh = connect("127.0.0.21");
    EXPECT_FALSE(m_op.waitUntil([&] { return m_op.tarpit().size() > std::size_t{ConnectionLimit}; }, 300ms))
        << "the eleventh peer was taken while ten connections were busy";
    EXPECT_FALSE(eleventh.waitClosed(0ms));

    m_op.open();
    EXPECT_TRUE(eleventh.waitClosed(Patience));
    for (const LoopbackPeer& peer : busy)
        EXPECT_TRUE(peer.waitClosed(Patience));
    ASSERT_TRUE(m_op.waitUntil([&] { return m_op.removals() == ConnectionLimit + 1; }));
    EXPECT_TRUE(m_op.tarpit().empty());
    EXPECT_EQ(m_pit->connectionThreadPeak(), ConnectionLimit);
    EXPECT_TRUE(m_firewall.changes().empty()) << "Debug blocks nothing";
}

TEST_F(PitLoopback, KickClosesTheLiveConnectionsOfExactlyThatAddress) {
    std::vector<LoopbackPeer> kicked;
    for (int i = 0; i < 3; ++i)
        kicked.push_back(connect("127.0.0.7"));
    const LoopbackPeer other = connect("127.0.0.8");
    ASSERT_TRUE(m_op.waitForHeld(4));

    for (const std::string address : {"", "127.0.0.9", "127.0.0.70", " 127.0.0.7"})
        EXPECT_EQ(m_pit->kick(address), 0) << "kick '" << address << "'";
    for (const LoopbackPeer& peer : kicked)
        EXPECT_FALSE(peer.waitClosed(0ms));

    EXPECT_EQ(m_pit->kick("127.0.0.7"), 3);
    for (const LoopbackPeer& peer : kicked)
        EXPECT_TRUE(peer.waitClosed(Patience));
    EXPECT_FALSE(other.waitClosed(0ms));
    // Kicked connections finish the step they are in; only then do their entries go.
    EXPECT_EQ(m_op.tarpit().size(), 4u);

    m_op.open();
    EXPECT_TRUE(other.waitClosed(Patience));
    ASSERT_TRUE(m_op.waitUntil([&] { return m_op.removals() == 4; }));
    EXPECT_TRUE(m_op.tarpit().empty());
    // A connection leaves the list just after its disconnect step; the stop awaits them all.
    m_pit->stop(portText());
    EXPECT_EQ(m_pit->kick("127.0.0.7"), 0);
}

TEST_F(PitLoopback, AStopCutsThePeersAtOnceAndAwaitsTheirConnectionsThenTheListIsEmpty) {
    const LoopbackPeer first = connect("127.0.0.5");
    const LoopbackPeer second = connect("127.0.0.6");
    ASSERT_TRUE(m_op.waitForHeld(2));

    auto stopped = std::async(std::launch::async, [&] { m_pit->stop(portText()); });
    EXPECT_TRUE(first.waitClosed(Patience));
    EXPECT_TRUE(second.waitClosed(Patience));
    EXPECT_EQ(stopped.wait_for(300ms), std::future_status::timeout) << "the stop did not wait for the connections";
    EXPECT_TRUE(m_pit->active());

    m_op.open();
    stopped.get();
    EXPECT_FALSE(m_pit->active());
    EXPECT_TRUE(m_op.tarpit().empty());
    EXPECT_EQ(m_op.lines().back(), " - Honeypot on " + std::string(Adapter) + ":" + portText() + " stopped.");
}

TEST_F(PitLoopback, AServedConnectionLeavesNothingThatRefusesTheNextStart) {
    m_op.open();
    const LoopbackPeer peer = connect("127.0.0.5");
    EXPECT_TRUE(peer.waitClosed(Patience));
    ASSERT_TRUE(m_op.waitUntil([&] { return m_op.removals() == 1; }));
    EXPECT_TRUE(m_op.hasLine(ConnectLine + "127.0.0.5"));
    for (int round = 0; round < 2; ++round) {
        m_pit->stop(portText());
        ASSERT_NO_THROW(m_pit->start(m_port)) << "round " << round;
        const LoopbackPeer next = connect("127.0.0.6");
        EXPECT_TRUE(next.waitClosed(Patience)) << "round " << round;
    }
    EXPECT_EQ(m_op.lines().front(), " - Honeypot on " + std::string(Adapter) + ":" + portText() + " started.");
}

} // namespace
} // namespace ostrel::test
