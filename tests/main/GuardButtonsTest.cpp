#include "ModalCloser.h"
#include "WindowRig.h"
#include "config/qt/Tconfig_f.h"
#include "platform/portable/ChannelFileWriter.h"
#include "support/HttpTestServer.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <thread>

namespace ostrel::test {
namespace {

using GuardButtonsStarted = StartedWindowTest;

const std::vector<std::string> MessageThenDialog = {"message", "modal dialog"};

struct RefusedButton {
    const char* name;
    void (Tmain_f::*click)();
    const char* message;
};

TEST(GuardButtons, RefuseUnderConfigErrorAndOpenTheDialog) {
    const RefusedButton buttons[] = {
        {"timer button", &Tmain_f::BTN_TimerClick, "Error in Config!"},
        {"single pass", &Tmain_f::Button1Click, "Incorrect configuration!"},
    };
    for (const RefusedButton& button : buttons) {
        SCOPED_TRACE(button.name);
        WindowRig rig;
        TestWindow& window = rig.start();
        ASSERT_TRUE(window.ConfigError());
        const QStringList before = logMessages(window);

        (window.*button.click)();

        EXPECT_EQ(window.kinds(), MessageThenDialog);
        EXPECT_EQ(window.shown[0].text, button.message);
        EXPECT_FALSE(window.Timer->isActive());
        EXPECT_EQ(window.BTN_Timer->text(), "Start timer");
        EXPECT_EQ(logMessages(window), before) << "no pass ran";
    }
}

TEST(GuardButtons, TheRealMessageBoxAndModalDialogCanBeClosed) {
    WindowRig rig;
    TestWindow& window = rig.start();
    window.realModals = true;
    ModalCloser closer;

    window.BTN_TimerClick();

    ASSERT_EQ(closer.seen.size(), 2u);
    EXPECT_EQ(closer.seen[0].className, "QMessageBox");
    EXPECT_EQ(closer.seen[0].text, "Error in Config!");
    EXPECT_EQ(closer.seen[0].title, "RDP-Ostrel");
    EXPECT_EQ(closer.seen[0].buttons, 1);
    EXPECT_EQ(closer.seen[1].className, "ostrel::Tconfig_f");
    EXPECT_EQ(closer.seen[1].title, "Configuration");
    EXPECT_FALSE(window.config_f().isVisible()) << "closing the dialog hides it";
}

TEST_F(GuardButtonsStarted, TimerButtonCaptionsAndBar) {
    TestWindow& window = start();
    EXPECT_EQ(window.BTN_Timer->text(), "Start timer");
    EXPECT_EQ(window.PG->maximum(), 100);

    window.BTN_TimerClick();
    EXPECT_TRUE(window.Timer->isActive());
    EXPECT_EQ(window.Timer->interval(), 1000);
    EXPECT_EQ(window.BTN_Timer->text(), "Stop Timer");
    EXPECT_EQ(window.PG->maximum(), 50) << "interval 5 × 10";

    window.TimerTimer();
    window.TimerTimer();
    window.TimerTimer();
    EXPECT_EQ(window.PG->value(), 30);

    window.BTN_TimerClick();
    EXPECT_FALSE(window.Timer->isActive());
    EXPECT_EQ(window.BTN_Timer->text(), "Start Timer");
    EXPECT_EQ(window.PG->value(), 30) << "stopping keeps the bar";
    EXPECT_EQ(window.guard().TickCounter(), 3);

    // Restarted, the counter goes on from 3: the pass comes at the second tick.
    window.config_f().Time->setText("10");
    window.BTN_TimerClick();
    EXPECT_EQ(window.PG->maximum(), 100);
    window.config_f().Time->setText("5");
    window.TimerTimer();
    EXPECT_EQ(window.PG->value(), 40);
    window.TimerTimer();
    ASSERT_TRUE(passEnded(window));
    EXPECT_EQ(window.PG->value(), 0) << "the pass sets the bar back";
    EXPECT_EQ(window.guard().TickCounter(), 0);
    EXPECT_TRUE(window.shown.empty());
}

TEST_F(GuardButtonsStarted, AnIntervalThatIsNoNumberReachesTheErrorReport) {
    TestWindow& window = start();
    window.config_f().Time->setText("abc");

    window.BTN_TimerClick();
    ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(window.shown[0].text, "'abc' ist kein gültiger Integerwert.");
    EXPECT_FALSE(window.Timer->isActive());
    EXPECT_EQ(window.BTN_Timer->text(), "Start timer");

    window.Button1Click();
    EXPECT_EQ(window.shown.size(), 2u);
    EXPECT_FALSE(logMessages(window).contains(" - Single pass carried out!"));
}

TEST_F(GuardButtonsStarted, SinglePassRunsAtOnceAndClosesWithItsLine) {
    TestWindow& window = start({"LastRecord=0"});
    window.BTN_TimerClick();
    window.TimerTimer();
    ASSERT_EQ(window.PG->value(), 10);

    window.Button1Click();
    ASSERT_TRUE(passEnded(window));

    EXPECT_TRUE(window.shown.empty());
    EXPECT_EQ(logMessages(window).last(), " - Single pass carried out!");
    EXPECT_EQ(window.PG->value(), 0);
    EXPECT_EQ(window.guard().TickCounter(), 0);
    EXPECT_TRUE(window.Timer->isActive()) << "the single pass leaves the timer alone";
    EXPECT_NE(rig().readConfig().find("LastRecord="), std::string::npos) << "written after every pass";
}

TEST_F(GuardButtonsStarted, ConfigErrorSetWhileTheTimerRunsKeepsItRunning) {
    TestWindow& window = start();
    window.BTN_TimerClick();
    ASSERT_TRUE(window.Timer->isActive());

    window.config_f().showNonModal();
    window.config_f().ConfServer->setText("");
    window.config_f().Button1Click();
    ASSERT_TRUE(window.ConfigError());
    EXPECT_FALSE(window.config_f().isVisible()) << "Save hides the dialog also after showing it again";

    window.BTN_TimerClick();
    EXPECT_EQ(window.kinds(), MessageThenDialog);
    EXPECT_TRUE(window.Timer->isActive());
    EXPECT_EQ(window.BTN_Timer->text(), "Stop Timer");
}

// The pass only queues its reports; closing the window sends those still waiting, in order.
TEST(GuardButtons, ClosingTheWindowSendsTheReportsStillQueued) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    HttpTestServer server(HttpReply{200, "OK", "accepted", {}});
    server.holdReplies();
    WindowRig rig;
    auto config = goodConfig(tables);
    std::replace(config.begin(), config.end(), std::string("Report=FALSE"), std::string("Report=TRUE"));
    config.push_back("AbuseReportRDPURL=" + server.baseUrl() + "/r?a=1");
    config.push_back("LastRecord=1");
    rig.writeConfig(config);
    platform::ChannelFileWriter channel(rig.eventFolder());
    std::vector<platform::NewChannelRecord> records;
    // Record 1 is behind LastRecord already.
    for (const char* ip : {"203.0.113.59", "203.0.113.60", "203.0.113.60", "203.0.113.61", "203.0.113.61",
                           "203.0.113.62", "203.0.113.62"}) {
        platform::NewChannelRecord record;
        record.InsertionStrings = std::vector<std::string>{"0", ip};
        records.push_back(record);
    }
    channel.append(records);
    TestWindow& window = rig.start();
    ASSERT_FALSE(window.ConfigError());

    window.Button1Click();
    ASSERT_TRUE(passEnded(window));
    ASSERT_EQ(rig.recorder.changes().size(), 3u) << "three blocks, made while the server holds every report";
    EXPECT_EQ(logMessages(window).last(), " - Single pass carried out!");
    EXPECT_TRUE(logMessages(window).filter("Ausnahme").isEmpty());

    std::thread releaser([&] {
        server.waitForRequests(1);
        server.releaseReplies();
    });
    rig.finish();
    releaser.join();
    std::vector<std::string> reported;
    for (const HttpRequest& request : server.requests())
        reported.push_back(request.requestLine.substr(request.requestLine.find("&IP=") + 4, 12));
    std::vector<std::string> blocked;
    for (const auto& change : rig.recorder.changes())
        blocked.push_back(change.address);
    EXPECT_EQ(reported, blocked) << "in the order of the blocks";
}

} // namespace
} // namespace ostrel::test
