#include "WindowRig.h"
#include "platform/portable/ChannelFileWriter.h"
#include "support/linux/HoneypotPeer.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <gtest/gtest.h>
#include <thread>

namespace ostrel::test {
namespace {

TEST(ThreadRule, LinesFromAnotherThreadArriveInOrderWithoutMakingItWait) {
    WindowRig rig;
    TestWindow& window = rig.create();
    constexpr int Count = 300;

    // The window's thread is busy (as in a pass) while the other thread writes; it neither
    // blocks that thread nor lets its lines in before it is free again.
    std::thread writer([&] {
        for (int i = 0; i < Count; ++i)
            window.op().log(Pane::Log, " - line " + std::to_string(i));
        window.op().tarpitAppend("203.0.113.8");
        window.op().tarpitAppend("203.0.113.9");
        window.op().tarpitRemove("203.0.113.8");
    });
    writer.join();
    window.op().log(Pane::Log, " - written by the busy thread");
    EXPECT_EQ(logMessages(window), QStringList{" - written by the busy thread"});

    pumpEvents();
    const QStringList lines = logMessages(window);
    ASSERT_EQ(lines.size(), Count + 1);
    EXPECT_EQ(lines[0], " - written by the busy thread");
    for (int i = 0; i < Count; ++i)
        ASSERT_EQ(lines[i + 1], QString(" - line %1").arg(i));
    ASSERT_EQ(window.tarpit->count(), 1);
    EXPECT_EQ(window.tarpit->item(0)->text(), "203.0.113.9");
}

TEST(ThreadRule, HoneypotLinesDuringAPassComeInTheOrderRequested) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    WindowRig rig;
    auto config = goodConfig(tables);
    config.push_back("LastRecord=1");
    rig.writeConfig(config);
    platform::ChannelFileWriter channel(rig.eventFolder());
    platform::NewChannelRecord record;
    record.InsertionStrings = std::vector<std::string>{"0", "203.0.113.7"};
    channel.append({record, record, record});

    TestWindow& window = rig.start();
    ASSERT_FALSE(window.ConfigError());
    const std::uint16_t port = freeHoneypotPort();
    window.TarpitPort->setText(QString::number(port));
    window.DetailLog->setChecked(true);
    window.btn_honeypotClick();
    ASSERT_TRUE(window.pit().active()) << (window.shown.empty() ? "" : window.shown[0].text.toStdString());

    // While the pass blocks 203.0.113.7, a peer comes and goes on the honeypot.
    bool peerServed = false;
    rig.onAddRule = [&] {
        HoneypotPeer peer("127.0.0.1", "127.0.0.1", port);
        peerServed = peer.waitClosed(std::chrono::seconds(10));
    };
    window.Button1Click();
    ASSERT_TRUE(passEnded(window));
    ASSERT_TRUE(peerServed);
    ASSERT_EQ(rig.recorder.changes().size(), 1u);
    EXPECT_EQ(rig.recorder.changes()[0].address, "203.0.113.7");

    // The pass runs on its own thread: the honeypot's line, requested while the pass waited for
    // the peer, stands before the pass's closing line, as both were requested.
    const QStringList lines = logMessages(window);
    EXPECT_EQ(lines.last(), " - Single pass carried out!");
    const auto pass = lines.indexOf(" - Single pass carried out!");
    const auto connect = lines.indexOf(" - Honeypot connect from 127.0.0.1");
    ASSERT_GE(connect, 0) << lines.join('\n').toStdString();
    EXPECT_LT(connect, pass);
    EXPECT_TRUE(waitUntil([&] { return window.tarpit->count() == 0; })) << "listed, then removed again";
    window.btn_honeypotClick();
}

} // namespace
} // namespace ostrel::test
