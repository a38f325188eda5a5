#include "WindowRig.h"
#include "db/Connection.h"
#include "main/WindowOperator.h"
#include "support/linux/HoneypotPeer.h"
#include "support/linux/NetworkNamespace.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ostrel::test {
namespace {

// Holds a port bound on all IPv4 addresses, so that a honeypot start on it fails.
class OccupiedPort {
public:
    explicit OccupiedPort(std::uint16_t port) : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(m_fd, 1) == 0;
    }
    ~OccupiedPort() { ::close(m_fd); }
    bool bound = false;

private:
    int m_fd;
};

TEST(HoneypotButton, StartsOnThePortOfTheUpDownAndStops) {
    WindowRig rig;
    TestWindow& window = rig.start();
    window.Debug->setChecked(true);
    const std::uint16_t port = freeHoneypotPort();
    window.TarpitPort->setText(QString::number(port));
    window.TarpitPort->setText("3500"); // out of range: the last valid position counts

    window.btn_honeypotClick();
    ASSERT_TRUE(window.pit().active());
    EXPECT_EQ(window.btn_honeypot->text(), "Stop Honeypot");
    EXPECT_EQ(window.pit().bindings().front().second, port);
    EXPECT_EQ(logMessages(window).last(), QString(" - Honeypot on 127.0.0.1:%1 started.").arg(port));

    {
        HoneypotPeer peer("127.0.0.1", "127.0.0.1", port);
        EXPECT_TRUE(peer.waitClosed(std::chrono::seconds(10)));
    }
    window.btn_honeypotClick();
    EXPECT_FALSE(window.pit().active());
    EXPECT_EQ(window.btn_honeypot->text(), "Start Honeypot");
    EXPECT_EQ(window.tarpit->count(), 0);
    EXPECT_EQ(logMessages(window).last(), " - Honeypot on 127.0.0.1:3500 stopped.") << "the field as it stands";
    EXPECT_TRUE(window.shown.empty());
    EXPECT_TRUE(rig.recorder.changes().empty()) << "Debug blocks nobody";
}

TEST(HoneypotButton, AFailedStartIsReportedAndStaysStopped) {
    WindowRig rig;
    TestWindow& window = rig.start();
    const std::uint16_t port = freeHoneypotPort();
    OccupiedPort occupied(port);
    ASSERT_TRUE(occupied.bound);
    window.TarpitPort->setText(QString::number(port));
    const QStringList before = logMessages(window);

    window.btn_honeypotClick();
    EXPECT_FALSE(window.pit().active());
    EXPECT_EQ(window.btn_honeypot->text(), "Start Honeypot");
    EXPECT_EQ(window.kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(logMessages(window), before);
}

TEST(HoneypotButton, KickWithoutSelectionOrLiveConnectionKeepsTheList) {
    WindowRig rig;
    TestWindow& window = rig.start();
    window.tarpit->addItem("203.0.113.5");
    window.tarpit->addItem("203.0.113.6");

    window.Button2->click();
    EXPECT_EQ(window.tarpit->count(), 2) << "nothing selected";

    window.tarpit->setCurrentRow(1);
    window.Button2->click();
    EXPECT_EQ(window.tarpit->count(), 2) << "no live connection of that address";
}

// The selection never moves to another address by itself: a second click must not cut a peer
// that the operator never chose.
TEST(HoneypotButton, AfterAKickNoEntryIsSelected) {
    OSTREL_REQUIRE_TEST_DB();
    if (!NetworkNamespace::available())
        GTEST_SKIP() << NetworkNamespace::unavailableReason();
    // Peers come from documentation addresses (loopback is never blocked), inside a namespace
    // where they are local; the block operation reaches the database through its unix socket.
    NetworkNamespace net;
    net.execChecked({"ip", "route", "add", "local", "203.0.113.0/24", "dev", "lo"});
    TestTables tables;
    WindowRig rig;
    std::vector<std::string> config = goodConfig(tables);
    config[0] = "SQLServer=localhost";
    rig.writeConfig(config);
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

// An entry that goes when its connection ends takes the selection with it, as a Kick's does.
TEST(HoneypotButton, AnEndingConnectionLeavesNoOtherEntrySelected) {
    WindowRig rig;
    TestWindow& window = rig.create();
    for (const char* address : {"203.0.113.5", "203.0.113.6", "203.0.113.7"})
        window.tarpit->addItem(address);

    window.tarpit->setCurrentRow(2);
    WindowOperator::removeFirstEqual(*window.tarpit, "203.0.113.5");
    ASSERT_EQ(window.tarpit->selectedItems().size(), 1) << "another entry's end keeps the selection";
    EXPECT_EQ(window.tarpit->selectedItems().first()->text(), "203.0.113.7");

    WindowOperator::removeFirstEqual(*window.tarpit, "203.0.113.7");
    EXPECT_TRUE(window.tarpit->selectedItems().isEmpty());
    EXPECT_EQ(window.tarpit->count(), 1);
}

TEST(HoneypotButton, ProgramEndStopsARunningHoneypotSilently) {
    WindowRig rig;
    TestWindow& window = rig.start();
    const std::uint16_t port = freeHoneypotPort();
    window.TarpitPort->setText(QString::number(port));
    window.btn_honeypotClick();
    ASSERT_TRUE(window.pit().active());

    rig.finish();
    OccupiedPort again(port);
    EXPECT_TRUE(again.bound) << "the listener is gone with the window";
}

} // namespace
} // namespace ostrel::test
