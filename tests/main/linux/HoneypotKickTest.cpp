// A Kick in the window while peers from other addresses wait in their block: those addresses are
// made local inside a network namespace of the test's own.
#include "db/Connection.h"
#include "linux/WindowInNamespace.h"
#include "support/linux/HoneypotPeer.h"

#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

// The selection never moves to another address by itself: a second click must not cut a peer
// that the operator never chose.
using HoneypotKick = WindowInNamespaceTest;

TEST_F(HoneypotKick, AfterAKickNoEntryIsSelected) {
    NetworkNamespace& net = this->net();
    TestTables& tables = this->tables();
    WindowRig& rig = this->rig();
    rig.writeConfig(socketConfig());
    TestWindow& window = rig.start();
    ASSERT_FALSE(window.ConfigError());

    // Every connection waits in its block operation until the table is let go.
    Connection holder = tables.connect();
    holder.execute("LOCK TABLES " + tables.firewall() + " WRITE");
    const std::uint16_t port = net.run(freeHoneypotPort);
    net.run([&] { window.pit().start(port); });
    const auto peerFrom = [&](const char* source) {
        return net.run([&] { return HoneypotPeer(source, "203.0.113.1", port); });
    };
    const HoneypotPeer kicked = peerFrom("203.0.113.7");
    ASSERT_TRUE(waitUntil([&] { return window.tarpit->count() == 1; }));
    const HoneypotPeer other = peerFrom("203.0.113.8");
    ASSERT_TRUE(waitUntil([&] { return window.tarpit->count() == 2; }));

    window.tarpit->setCurrentRow(0);
    window.Button2->click();
    EXPECT_TRUE(kicked.waitClosed(std::chrono::seconds(10)));
    EXPECT_TRUE(window.tarpit->selectedItems().isEmpty());
    EXPECT_EQ(window.tarpit->currentItem(), nullptr);
    ASSERT_EQ(window.tarpit->count(), 1);
    EXPECT_EQ(window.tarpit->item(0)->text(), "203.0.113.8");

    window.Button2->click();
    EXPECT_FALSE(other.waitClosed(std::chrono::milliseconds(0))) << "the second click kicked nobody";
    EXPECT_EQ(window.tarpit->count(), 1);

    holder.execute("UNLOCK TABLES");
    EXPECT_TRUE(other.waitClosed(std::chrono::seconds(10)));
    EXPECT_TRUE(waitUntil([&] { return window.tarpit->count() == 0; }));
    EXPECT_TRUE(window.shown.empty());
}

} // namespace
} // namespace ostrel::test
