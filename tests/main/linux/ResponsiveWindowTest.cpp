// The window answers while its guard pass and a honeypot block wait for a row another
// connection holds: real widgets, the real server's row locks, real peers in a namespace.
#include "db/Connection.h"
#include "linux/WindowInNamespace.h"
#include "platform/portable/ChannelFileWriter.h"
#include "support/linux/HoneypotPeer.h"
#include "support/linux/ThreadBacktraces.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <optional>

namespace ostrel::test {
namespace {

// The longest time between two turns of the window's event loop while it runs, measured by a
// timer that asks for a turn every 5 ms.
class EventLoopGaps {
public:
    EventLoopGaps() {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_clock.restart());
            ++m_turns;
        });
        m_clock.start();
        m_timer.start();
    }
    qint64 longestMs() const { return m_longest; }
    int turns() const { return m_turns; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
    int m_turns = 0;
};

// What every connection to the server does now: the statement and what it waits for.
std::string serverActivity(TestTables& tables) {
    ResultSet rows = tables.query("SELECT ID, COMMAND, COALESCE(STATE, '') AS STATE, COALESCE(INFO, '') AS INFO FROM "
                                  "information_schema.PROCESSLIST WHERE ID <> CONNECTION_ID()");
    std::string text;
    for (; !rows.eof(); rows.next())
        text += " - " + rows.text("ID") + " " + rows.text("COMMAND") + " [" + rows.text("STATE") + "] " +
                rows.text("INFO").substr(0, 200) + "\n";
    return text;
}

// How many statements on the test's active-block table wait for a row lock (other tests may
// wait on their own tables meanwhile). The server refreshes its table of transactions only once
// nobody has read it for 0.1 s: read more often, it shows its first reading for good (a wait that
// began after it never appears). So it is read every 0.2 s at most.
class LockWaitCount {
public:
    explicit LockWaitCount(TestTables& tables) : m_tables(tables) {}
    std::int64_t operator()() {
        const auto now = std::chrono::steady_clock::now();
        if (m_read && now - *m_read < std::chrono::milliseconds(200))
            return m_count;
        m_count = m_tables.scalar("SELECT COUNT(*) AS value FROM information_schema.INNODB_TRX WHERE trx_state = "
                                  "'LOCK WAIT' AND LOCATE('" +
                                  m_tables.firewall() + "', trx_query) > 0");
        m_read = std::chrono::steady_clock::now();
        return m_count;
    }

private:
    TestTables& m_tables;
    std::optional<std::chrono::steady_clock::time_point> m_read;
    std::int64_t m_count = 0;
};

using ResponsiveWindow = WindowInNamespaceTest;

TEST_F(ResponsiveWindow, PassAndHoneypotBlockWaitingOnAHeldRowLeaveTheWindowAnswering) {
    NetworkNamespace& net = this->net();
    TestTables& tables = this->tables();
    WindowRig& rig = this->rig();
    std::vector<std::string> config = socketConfig();
    config.push_back("LastRecord=1");
    rig.writeConfig(config);
    platform::ChannelFileWriter channel(rig.eventFolder());
    platform::NewChannelRecord record;
    record.InsertionStrings = std::vector<std::string>{"0", "203.0.113.20"};
    channel.append({record, record, record, record});
    for (const char* address : {"203.0.113.7", "203.0.113.20"})
        tables.exec("INSERT INTO " + tables.firewall() +
                    " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), "
                    "DATE_ADD(NOW(), INTERVAL 1 HOUR), '" +
                    address + "', ' - Counter: 1 - RDP-Block', 'netsh', 'RDP-Block')");

    TestWindow& window = rig.start();
    ASSERT_FALSE(window.ConfigError());
    const std::uint16_t port = net.run(freeHoneypotPort);
    net.run([&] { window.pit().start(port); });

    // Another guard's transaction holds every active row: both blocks below wait for it.
    Connection holder = tables.connect();
    holder.execute("START TRANSACTION");
    holder.execute("SELECT * FROM " + tables.firewall() + " FOR UPDATE");
    LockWaitCount lockWaits(tables);

    const HoneypotPeer peer = net.run([&] { return HoneypotPeer("203.0.113.7", "203.0.113.1", port); });
    ASSERT_TRUE(waitUntil([&] { return window.tarpit->count() == 1; }));
    window.Button1Click();
    ASSERT_TRUE(window.passRunning());
    ASSERT_TRUE(waitUntil([&] { return lockWaits() >= 1; }, std::chrono::seconds(30)))
        << "neither block reached the held rows; the window's log:\n"
        << logMessages(window).join('\n').toStdString() << "\nthe server's connections:\n"
        << serverActivity(tables) << "\nthe threads:\n"
        << threadBacktraces();

    // Now the window is asked for everything while both still wait.
    EventLoopGaps gaps;
    ASSERT_FALSE(waitUntil([&] { return !window.passRunning(); }, std::chrono::milliseconds(500)));
    window.repaint();
    window.TimerTimer();
    window.TimerTimer();
    window.tarpit->setCurrentRow(0);
    window.Button2->click(); // Kick
    EXPECT_TRUE(peer.waitClosed(std::chrono::seconds(10))) << "Kick cut the waiting peer";
    EXPECT_EQ(window.tarpit->count(), 0);
    ASSERT_FALSE(waitUntil([&] { return !window.passRunning(); }, std::chrono::milliseconds(500)));
    EXPECT_TRUE(window.passRunning()) << "the pass still waits";
    EXPECT_GE(lockWaits(), 1);
    const QStringList waiting = logMessages(window);
    EXPECT_EQ(
        waiting.filter(" - The guard pass is still running: it waits for the database or the firewall ...").size(), 1)
        << waiting.join('\n').toStdString();
    EXPECT_TRUE(waiting.filter("[RDP-Block]").isEmpty());
    EXPECT_GT(gaps.turns(), 10);
    // The figure, for the record; the test asserts what the loop did, not how fast.
    std::printf("longest turn of the event loop while both waited: %lld ms (%d turns)\n",
                static_cast<long long>(gaps.longestMs()), gaps.turns());

    holder.execute("ROLLBACK");
    ASSERT_TRUE(passEnded(window));
    ASSERT_TRUE(waitUntil([&] {
        return !logMessages(window).filter(" - [Honeypot-Block] IP 203.0.113.7 - Blocktime extendet by").isEmpty();
    }));
    const QStringList lines = logMessages(window);
    EXPECT_FALSE(lines.filter(" - [RDP-Block] IP 203.0.113.20 - Blocktime extendet by").isEmpty())
        << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(" - Single pass carried out!"));
    EXPECT_TRUE(window.shown.empty());
    net.run([&] { window.pit().stop(std::to_string(port)); });
}

} // namespace
} // namespace ostrel::test
