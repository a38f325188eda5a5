#include "WindowRig.h"
#include "config/qt/Tconfig_f.h"
#include "support/ChannelAppend.h"

#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using namespace std::chrono_literals;

bool logHas(Tmain_f& window, const QString& text) {
    return logMessages(window).filter(text).size() > 0;
}

TEST(SourceWatch, NewRecordsStartAPassOnTheWindowsThreadOnlyWhileTheTimerRuns) {
#ifdef _WIN32
    GTEST_SKIP() << "the channel file is watched on Linux; on Windows its passes come with the timer";
#endif
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    WindowRig rig;
    auto config = goodConfig(tables);
    config.push_back("LastRecord=" + std::to_string(appendFailedLogonsFrom(rig.eventFolder(), {"198.51.100.1"})));
    rig.writeConfig(config);
    TestWindow& window = rig.start();
    window.config_f().Time->setText("120"); // the timer's own first pass is two minutes away

    const std::int64_t whileStopped = appendFailedLogonsFrom(rig.eventFolder(), {"203.0.113.7"});
    EXPECT_FALSE(waitUntil([&] { return logHas(window, " - RecordNumber "); }, 2s))
        << "a pass ran while the timer was stopped";

    window.BTN_TimerClick();
    ASSERT_TRUE(window.Timer->isActive());
    const std::int64_t whileRunning = appendFailedLogonsFrom(rig.eventFolder(), {"203.0.113.8"});
    EXPECT_TRUE(
        waitUntil([&] { return logHas(window, QString(" - RecordNumber %1: 203.0.113.8").arg(whileRunning)); }, 60s))
        << logMessages(window).join("\n").toStdString();
    EXPECT_TRUE(logHas(window, QString(" - RecordNumber %1: 203.0.113.7").arg(whileStopped)))
        << "the record that came while the timer stood is read by the first pass after";
    EXPECT_EQ(window.guard().TickCounter(), 0) << "a pass as a tick runs it";
    window.BTN_TimerClick();
}

} // namespace
} // namespace ostrel::test
