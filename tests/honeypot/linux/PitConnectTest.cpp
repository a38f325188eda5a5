#include "PitFixture.h"
#include "support/HttpTestServer.h"

#include <algorithm>

namespace ostrel::test {
namespace {

class PitConnect : public PitTest {};

bool hasLineStartingWith(const std::vector<std::string>& lines, const std::string& start) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

// The connection ends with its block, not with its report: a report server that holds every
// request holds no connection thread.
TEST_F(PitConnect, AReportServerThatHoldsItsRequestsHoldsNoConnection) {
    HttpTestServer server(HttpReply{200, "OK", "accepted", {}});
    server.holdReplies();
    m_settings.set(&SettingsValues::Report, true);
    m_settings.set(&SettingsValues::AbuseReportRDPURL, server.baseUrl() + "/r?a=1");
    m_op.setDetailLog(true);
    start();

    for (const char* ip : {"203.0.113.40", "203.0.113.41", "203.0.113.42"})
        connectAndWaitClosed(ip);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_TRUE(m_op.hasLine(" - [Honeypot-Block] IP 203.0.113.42 is blocked for 45 minutes!"));
    EXPECT_FALSE(hasLineStartingWith(m_op.lines(), " - Abuse Report Result: ")) << "no report has ended";

    server.releaseReplies();
    stop(portText());
    m_report->finish();
    const auto lines = m_op.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), " - Abuse Report Result: accepted"), 3);
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(PitConnect, APeerIsListedLoggedBlockedAndClosedAsTheSwitchesSay) {
    struct Case {
        bool debug;
        bool detailLog;
    };
    const Case cases[] = {{true, true}, {false, false}, {true, false}, {false, true}};
    start();
    int peer = 10;
    for (const Case& c : cases) {
        const std::string ip = "203.0.113." + std::to_string(peer++);
        SCOPED_TRACE(ip + (c.debug ? " Debug" : "") + (c.detailLog ? " DetailLog" : ""));
        m_op.clear();
        m_firewall.clear();
        m_op.setDebug(c.debug);
        m_op.setDetailLog(c.detailLog);

        connectAndWaitClosed(ip);
        ASSERT_TRUE(waitUntilIdle());

        const auto lines = m_op.lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), " - Honeypot connect from " + ip), c.detailLog ? 1 : 0);
        if (c.debug) {
            EXPECT_EQ(rowsFor(ip), 0);
            EXPECT_TRUE(m_firewall.changes().empty());
            EXPECT_FALSE(hasLineStartingWith(lines, " - [Honeypot-Block]"));
        } else {
            EXPECT_EQ(rowsFor(ip), 1);
            EXPECT_EQ(column(ip, "RQ"), "Honeypot-Block");
            EXPECT_EQ(column(ip, "Reason"), " - Counter: 1 - Honeypot-Block");
            EXPECT_EQ(blockMinutes(ip), 45);
            EXPECT_EQ(m_firewall.changes(),
                      (std::vector<RecordingFirewallCommand::Change>{{true, "Autoblock_" + ip, ip}}));
            EXPECT_TRUE(m_op.hasLine(" - [Honeypot-Block] IP " + ip + " is blocked for 45 minutes!"));
        }
        if (!c.detailLog && !c.debug) {
            EXPECT_EQ(lines,
                      (std::vector<std::string>{" - [Honeypot-Block] IP " + ip + " is blocked for 45 minutes!"}));
        }
        if (c.detailLog && c.debug) {
            EXPECT_EQ(lines, (std::vector<std::string>{" - Honeypot connect from " + ip}));
        }
    }
    const auto history = m_op.tarpitHistory();
    EXPECT_EQ(history.size(), 2 * std::size(cases));
    for (std::size_t i = 0; i + 1 < history.size(); i += 2) {
        EXPECT_EQ(history[i].front(), '+');
        EXPECT_EQ(history[i + 1], "-" + history[i].substr(1));
    }
}

TEST_F(PitConnect, TheBlockTimeIsReadAtEachConnection) {
    start();
    connectAndWaitClosed("203.0.113.5");
    ASSERT_TRUE(waitUntilIdle());
    m_settings.set(&SettingsValues::BlockHoneypotInterval, std::string(" 30 "));
    connectAndWaitClosed("203.0.113.6");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(blockMinutes("203.0.113.5"), 45);
    EXPECT_EQ(blockMinutes("203.0.113.6"), 30);

    // A peer that is already blocked gets its block extended by the honeypot block time.
    connectAndWaitClosed("203.0.113.6");
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(blockMinutes("203.0.113.6"), 60);
    EXPECT_TRUE(m_op.hasLine(" - [Honeypot-Block] IP 203.0.113.6 - Blocktime extendet by 30 minutes!"));
}

TEST_F(PitConnect, APeerOnTheAllowListIsListedAndClosedButNotBlocked) {
    m_settings.set(&SettingsValues::AllowList, std::string("203.0.113.0/28 2001:db8::1"));
    start();
    connectAndWaitClosed("203.0.113.12");
    ASSERT_TRUE(waitUntilIdle());
    connectAndWaitClosed("203.0.113.20");
    ASSERT_TRUE(waitUntilIdle());

    EXPECT_EQ(rowsFor("203.0.113.12"), 0);
    EXPECT_TRUE(m_op.hasLine(" - IP 203.0.113.12 is on the allow list - not blocked."));
    EXPECT_EQ(rowsFor("203.0.113.20"), 1);
    EXPECT_EQ(m_firewall.changes(),
              (std::vector<RecordingFirewallCommand::Change>{{true, "Autoblock_203.0.113.20", "203.0.113.20"}}));
    EXPECT_EQ(m_op.tarpitHistory(),
              (std::vector<std::string>{"+203.0.113.12", "-203.0.113.12", "+203.0.113.20", "-203.0.113.20"}));
}

TEST_F(PitConnect, TwoConnectionsFromOneAddressAreListedTwiceAndEachEndingRemovesOne) {
    start();
    std::optional<TableLock> lock(std::in_place, *m_tables, m_tables->firewall());
    const HoneypotPeer first = connect("203.0.113.7");
    const HoneypotPeer second = connect("203.0.113.7");
    ASSERT_TRUE(m_op.waitForTarpitSize(2));
    EXPECT_EQ(m_op.tarpit(), (std::vector<std::string>{"203.0.113.7", "203.0.113.7"}));

    lock.reset();
    EXPECT_TRUE(first.waitClosed(Patience));
    EXPECT_TRUE(second.waitClosed(Patience));
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(m_op.tarpitHistory(),
              (std::vector<std::string>{"+203.0.113.7", "+203.0.113.7", "-203.0.113.7", "-203.0.113.7"}));
    // Both may find no active row and insert one each, as concurrent blocks are allowed to.
    EXPECT_GE(rowsFor("203.0.113.7"), 1);
}

// A failed block ends only its connection, with one line that names the peer and the reason.
TEST_F(PitConnect, AFailingBlockEndsOnlyThatConnectionWithOneLine) {
    struct Case {
        std::string name;
        std::function<void(Settings&)> spoil;
        std::string reason; // a part of the line's reason
    };
    const Case cases[] = {
        {"block time not a whole number",
         [](Settings& s) { s.set(&SettingsValues::BlockHoneypotInterval, std::string("zwei")); },
         "'zwei' ist kein gültiger Integerwert"},
        {"table missing", [](Settings& s) { s.set(&SettingsValues::SQLTBLPrefix, std::string("nosuch_")); },
         "nosuch_firewall"},
        {"server unreachable",
         [](Settings& s) {
             s.set(&SettingsValues::SQLServer, std::string("127.0.0.1"));
             s.set(&SettingsValues::SQLPort, std::string("1"));
         },
         "EDatabaseError: "},
    };
    start();
    const SettingsValues good = m_settings.snapshot();
    int peer = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string failing = "203.0.113." + std::to_string(peer++);
        const std::string following = "203.0.113." + std::to_string(peer++);
        m_op.clear();
        c.spoil(m_settings);
        connectAndWaitClosed(failing);
        ASSERT_TRUE(waitUntilIdle());
        const std::vector<std::string> lines = m_op.lines();
        ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
        EXPECT_EQ(lines[0].rfind(" - [Honeypot-Block] IP " + failing + " not blocked - ", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
        EXPECT_EQ(rowsFor(failing), 0);

        m_settings.assign(good);
        connectAndWaitClosed(following);
        ASSERT_TRUE(waitUntilIdle());
        EXPECT_EQ(rowsFor(following), 1);
    }
    EXPECT_TRUE(m_pit->active());
}

} // namespace
} // namespace ostrel::test
