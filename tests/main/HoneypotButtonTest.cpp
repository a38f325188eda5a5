#include "WindowRig.h"
#include "main/WindowOperator.h"
#include "support/LoopbackPeer.h"
#include "support/TestSocket.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <gtest/gtest.h>
#include <stdexcept>

namespace ostrel::test {
namespace {

// Holds a port on 127.0.0.1, the address the honeypot binds in these tests, so that a honeypot
// start on it fails; false when the port could not be taken.
bool portTaken(std::uint16_t port, TestSocket& holder) {
    try {
        holder = bindLoopback(port);
        listenOn(holder, 1);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

TEST(HoneypotButton, StartsOnThePortOfTheUpDownAndStops) {
    WindowRig rig;
    TestWindow& window = rig.start();
    window.Debug->setChecked(true);
    const std::uint16_t port = freeLoopbackHoneypotPort();
    window.TarpitPort->setText(QString::number(port));
    window.TarpitPort->setText("3500"); // out of range: the last valid position counts

    window.btn_honeypotClick();
    ASSERT_TRUE(window.pit().active());
    EXPECT_EQ(window.btn_honeypot->text(), "Stop Honeypot");
    EXPECT_EQ(window.pit().bindings().front().second, port);
    EXPECT_EQ(logMessages(window).last(), QString(" - Honeypot on 127.0.0.1:%1 started.").arg(port));

    {
        const TestSocket peer = connectLoopback(port);
        EXPECT_EQ(waitReadable({peer.get()}, std::chrono::seconds(10)), 0) << "the honeypot ends the connection";
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
    const std::uint16_t port = freeLoopbackHoneypotPort();
    TestSocket occupied;
    ASSERT_TRUE(portTaken(port, occupied));
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
    const std::uint16_t port = freeLoopbackHoneypotPort();
    window.TarpitPort->setText(QString::number(port));
    window.btn_honeypotClick();
    ASSERT_TRUE(window.pit().active());

    rig.finish();
    TestSocket again;
    EXPECT_TRUE(portTaken(port, again)) << "the listener is gone with the window";
}

} // namespace
} // namespace ostrel::test
