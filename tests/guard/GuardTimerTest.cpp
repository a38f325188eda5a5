#include "guard/GuardTimer.h"

#include "GuardTestSupport.h"
#include "common/Errors.h"
#include "config/ConfigurationLoad.h"

#include <chrono>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include "platform/linux/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace ostrel {
namespace {

using test::GuardDatabaseTest;
using test::ScriptedSource;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// The bar as the window shows it, reduced to what the pass asks of it.
class RecordingProgress : public PassProgress {
public:
    void setMaximum(int value) override { maximum = value; }
    void stepIt() override { position += 10; }
    void reset() override {
        position = 0;
        ++resets;
    }
    int maximum = 100;
    int position = 0;
    int resets = 0;
};

class GuardTimerTest : public GuardDatabaseTest {
protected:
    // The ticks (1-based) after which a pass ran, out of `ticks` ticks.
    std::vector<int> passesIn(GuardTimer& timer, int ticks) {
        std::vector<int> passes;
        for (int tick = 1; tick <= ticks; ++tick) {
            const int before = source.calls;
            timer.TimerTimer();
            if (source.calls != before)
                passes.push_back(tick);
        }
        return passes;
    }
    void addActiveBlock(const std::string& address, const std::string& revoke) {
        tables().exec("INSERT INTO " + tables().firewall() +
                      " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), " + revoke + ", \"" +
                      address + "\", ' - Counter: 1 - RDP-Block', 'netsh', 'RDP-Block')");
    }
    std::int64_t historyRows() { return tables().scalar("SELECT COUNT(*) AS value FROM " + tables().history()); }

    ScriptedSource source;
    RecordingProgress progress;
};

TEST_F(GuardTimerTest, PassIsDueWhenTheCounterReachesTheIntervalOrTheCeiling) {
    struct Case {
        const char* interval;
        int ticks;
        std::vector<int> passes;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"5", 12, {5, 10}},
        {" 7", 7, {7}},
        {"1", 3, {1, 2, 3}},
        {"0", 2, {1, 2}},
        {"500", 240, {120, 240}},
        {"2147483647", 121, {120}},
    };
    // clang-format on
    setLastRecord("9");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("interval '") + c.interval + "'");
        settings().set(&SettingsValues::Time, std::string(c.interval));
        GuardTimer timer(ctx().context, source, progress);
        EXPECT_EQ(passesIn(timer, c.ticks), c.passes);
    }
}

TEST_F(GuardTimerTest, CounterAndBarStartOverWithEveryPass) {
    GuardTimer timer(ctx().context, source, progress);
    timer.timerStarted();
    EXPECT_EQ(progress.maximum, 50);
    std::vector<std::pair<int, int>> seen;
    for (int tick = 0; tick < 6; ++tick) {
        timer.TimerTimer();
        seen.emplace_back(timer.TickCounter(), progress.position);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 10}, {2, 20}, {3, 30}, {4, 40}, {0, 0}, {1, 10}}));
}

TEST_F(GuardTimerTest, TimerStoppedAtThreeAndStartedAgainPassesTwoTicksLater) {
    GuardTimer timer(ctx().context, source, progress);
    timer.timerStarted();
    EXPECT_THAT(passesIn(timer, 3), IsEmpty());
    // Stopped and started again: the counter keeps its value.
    settings().set(&SettingsValues::Time, std::string("5"));
    timer.timerStarted();
    EXPECT_EQ(timer.TickCounter(), 3);
    EXPECT_EQ(passesIn(timer, 2), std::vector<int>{2});
}

TEST_F(GuardTimerTest, IntervalIsReadAgainAtEveryTick) {
    GuardTimer timer(ctx().context, source, progress);
    EXPECT_THAT(passesIn(timer, 3), IsEmpty());
    settings().set(&SettingsValues::Time, std::string("3"));
    EXPECT_EQ(passesIn(timer, 1), std::vector<int>{1});
}

TEST_F(GuardTimerTest, SinglePassRunsAtOnceAndReportsAfterEveryLineOfThePass) {
    op().setDetailLog(true);
    addActiveBlock("203.0.113.5", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    channel.appendFailedLogons({"203.0.113.7", "203.0.113.7"});
    GuardTimer timer(ctx().context, channel.source, progress);
    timer.TimerTimer();
    timer.TimerTimer();

    timer.singlePass();

    const auto lines = op().lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], " - RecordNumber 3: 203.0.113.7");
    EXPECT_THAT(std::vector<std::string>(lines.end() - 3, lines.end()),
                ElementsAre(" - No more Data. Cleaning up ...", " -  Cleaned up!", " - Single pass carried out!"));
    EXPECT_TRUE(op().hasLine(" - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!"));
    EXPECT_THAT(op().lines(Pane::Clearlog), ElementsAre(" - Firewallentry 203.0.113.5 deleted."));
    EXPECT_EQ(timer.TickCounter(), 0);
    EXPECT_EQ(progress.position, 0);
    EXPECT_EQ(progress.resets, 1);
}

TEST_F(GuardTimerTest, SinglePassSetsTheCounterPastTheIntervalWhateverItHeld) {
    for (const char* interval : {"5", "120", "2147483647"}) {
        SCOPED_TRACE(interval);
        settings().set(&SettingsValues::Time, std::string(interval));
        GuardTimer timer(ctx().context, source, progress);
        timer.setTickCounter(-1000);
        const int before = source.calls;
        timer.singlePass();
        const bool ran = source.calls == before + 1;
        // Past the largest interval the 32-bit counter wraps below zero: no pass is due then.
        EXPECT_EQ(ran, std::string(interval) != "2147483647");
        EXPECT_EQ(op().lines().back(), " - Single pass carried out!");
    }
}

TEST_F(GuardTimerTest, LastRecordIsWrittenAfterEveryPass) {
    struct Case {
        const char* name;
        std::exception_ptr failure;
    };
    const std::vector<Case> cases = {
        {"no event", nullptr},
        {"failed scan", std::make_exception_ptr(EOleException("RPC server unavailable", 0x6BA))},
    };
    int value = 7;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        source.failure = c.failure;
        setLastRecord(std::to_string(++value));
        GuardTimer timer(ctx().context, source, progress);
        timer.singlePass();
        EXPECT_EQ(lastRecordOnDisk(), std::to_string(value));
    }
}

TEST_F(GuardTimerTest, ScanErrorsBecomeOneLineAndThePassGoesOn) {
    struct Case {
        std::exception_ptr error;
        std::string line;
    };
    const std::vector<Case> cases = {
        {std::make_exception_ptr(EOleException("Invalid class", static_cast<std::int32_t>(0x80041010u))),
         " - EOleException Invalid class 80041010"},
        {std::make_exception_ptr(EOleException("Access denied", 0x1F)), " - EOleException Access denied 1F"},
        {std::make_exception_ptr(EOleException("none", 0)), " - EOleException none 0"},
        {std::make_exception_ptr(EDatabaseError("server has gone away")), " EDatabaseError:server has gone away"},
        {std::make_exception_ptr(std::runtime_error("plain")), " Exception:plain"},
    };
    setLastRecord("4");
    addActiveBlock("203.0.113.5", "NOW()");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        op().clear();
        source.failure = c.error;
        GuardTimer timer(ctx().context, source, progress);
        timer.setTickCounter(4);

        timer.TimerTimer();

        EXPECT_THAT(op().lines(), ElementsAre(c.line));
        EXPECT_EQ(timer.TickCounter(), 0);
        EXPECT_EQ(progress.position, 0);
    }
    // The release ran after the first failed scan already.
    EXPECT_EQ(historyRows(), 1);
}

// A mark that is no number stopped every pass for good; it is reported and repaired instead.
TEST_F(GuardTimerTest, LastRecordThatIsNoNumberIsReportedAndRepaired) {
    setLastRecord("x");
    GuardTimer timer(ctx().context, channel.source, progress);
    timer.singlePass();
    EXPECT_THAT(op().lines(),
                ElementsAre(" - LastRecord \"x\" is no whole number and no mark is stored: this pass is a first run.",
                            " - First run - the last recordnumber in Windowslog: 0", " - Single pass carried out!"));
    EXPECT_FALSE(timer.lastScanError());
    EXPECT_EQ(lastRecordOnDisk(), "0");
}

TEST_F(GuardTimerTest, DatabaseFailingInTheMiddleOfAScanLosesAndDoublesNothing) {
    settings().set(&SettingsValues::BlockInvalidUser, false);
    const std::string mark = std::to_string(channel.appendFailedLogons({"198.51.100.1"}));
    setLastRecord(mark);
    std::vector<std::string> addresses;
    for (int i = 0; i < 1500; ++i)
        addresses.push_back("198.51.100." + std::to_string(i % 200));
    addresses[100] = "203.0.113.66"; // read late: the newest come first
    const std::int64_t last = channel.appendFailedLogons(addresses);
    addActiveBlock("203.0.113.5", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    const std::string trigger = tables().prefix() + "refuse";
    tables().exec("CREATE TRIGGER " + trigger + " BEFORE INSERT ON " + tables().merkliste() +
                  " FOR EACH ROW IF NEW.IP = '203.0.113.66' THEN"
                  " SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'storage refused'; END IF");
    GuardTimer timer(ctx().context, channel.source, progress);

    timer.singlePass();

    const auto lines = op().lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_THAT(lines[lines.size() - 2], ::testing::StartsWith(" EDatabaseError:"));
    EXPECT_THAT(lines[lines.size() - 2], HasSubstr("storage refused"));
    EXPECT_EQ(lines.back(), " - Single pass carried out!");
    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().merkliste()), 0);
    EXPECT_EQ(lastRecord(), mark);
    EXPECT_EQ(lastRecordOnDisk(), mark);
    EXPECT_EQ(historyRows(), 1) << "the release ran after the failed scan";
    EXPECT_EQ(progress.position, 0);

    tables().exec("DROP TRIGGER " + trigger);
    timer.singlePass();

    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().merkliste()), 1500);
    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().merkliste() + " WHERE IP = '203.0.113.66'"),
              1);
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(last));
}

TEST_F(GuardTimerTest, ErrorsOutsideTheScanReachTheCaller) {
    // An interval that is no number: the tick ends before any pass.
    settings().set(&SettingsValues::Time, std::string("five"));
    GuardTimer timer(ctx().context, source, progress);
    EXPECT_THROW(timer.TimerTimer(), EConvertError);
    EXPECT_THROW(timer.singlePass(), EConvertError);
    EXPECT_THROW(timer.timerStarted(), EConvertError);
    EXPECT_EQ(source.calls, 0);

    // A release that fails: the scan ran and the countdown started over before it.
    settings().set(&SettingsValues::Time, std::string("5"));
    setLastRecord("3");
    tables().exec("DROP TABLE " + tables().firewall());
    EXPECT_THROW(timer.singlePass(), EDatabaseError);
    EXPECT_EQ(source.calls, 1);
    EXPECT_EQ(timer.TickCounter(), 0);
    EXPECT_FALSE(op().hasLine(" - Single pass carried out!"));
    EXPECT_EQ(lastRecordOnDisk(), "3");
}

// The start-up load stopped at a port that is no number: the mark it would have loaded last
// must neither be erased by the passes that follow nor turn the next good pass into a first run.
TEST_F(GuardTimerTest, ALoadThatStoppedEarlyNeverErasesTheSavedMark) {
    const std::int64_t mark = channel.appendFailedLogons({"198.51.100.1", "198.51.100.2"});
    const test::TestServer& server = test::TestServer::get();
    auto writeConfig = [&](const std::string& port) {
        ctx().ini.WriteString("SQLServer", server.host);
        ctx().ini.WriteString("SQLPort", port);
        ctx().ini.WriteString("SQLDatabase", server.database);
        ctx().ini.WriteString("SQLUsername", server.user);
        ctx().ini.WriteString("SQLPasswort", server.password);
        ctx().ini.WriteString("SQLTBLPrefix", tables().prefix());
        ctx().ini.WriteString("SQLTBLPrefixHistory", tables().historyPrefix());
        ctx().ini.WriteString("LastRecord", std::to_string(mark));
    };
    writeConfig("");
    Settings fresh; // as at program start: nothing loaded yet
    settings().assign(fresh.snapshot());
    ConfigurationLoad load(settings(), ctx().ini, op(), channel.folder.path(), {});
    EXPECT_THROW(load.OstrelKonfigurieren(), EConvertError);
    GuardTimer timer(ctx().context, channel.source, progress);

    const std::int64_t last = channel.appendFailedLogons({"203.0.113.7", "203.0.113.8"});
    // The release after the scan needs the port too: its error reaches the error report.
    EXPECT_THROW(timer.singlePass(), EConvertError);
    EXPECT_THROW(timer.singlePass(), EConvertError);

    EXPECT_TRUE(
        op().hasLine(" EConvertError:'' ist kein gültiger Integerwert (SQLPort takes a whole number from 0 to 65535)"));
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(mark));

    ctx().ini.WriteString("SQLPort", std::to_string(server.port));
    load.OstrelKonfigurieren();
    op().clear();
    timer.singlePass();

    EXPECT_FALSE(op().hasLineContaining("First run"));
    EXPECT_EQ(sightingsByAddress(), (std::map<std::string, std::int64_t>{{"203.0.113.7", 1}, {"203.0.113.8", 1}}));
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(last));
}

TEST_F(GuardTimerTest, APassBeforeAnyLoadLeavesTheSavedMarkAlone) {
    ctx().ini.WriteString("LastRecord", "2014");
    Settings fresh;
    settings().assign(fresh.snapshot());
    tables().applyTo(settings());
    GuardTimer timer(ctx().context, channel.source, progress);
    timer.singlePass();
    EXPECT_EQ(lastRecordOnDisk(), "2014");
}

#ifndef _WIN32
// A FIFO in the channel file's place held the pass in open(), and with it the window. Should the
// pass hang, the test opens the FIFO's other end to let it go, and fails.
TEST_F(GuardTimerTest, AFifoInPlaceOfTheChannelIsAnErrorAndThePassGoesOn) {
    setLastRecord("3");
    addActiveBlock("203.0.113.5", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)");
    const auto file = channel.source.file();
    std::filesystem::create_directories(file.parent_path());
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    GuardTimer timer(ctx().context, channel.source, progress);

    auto pass = std::async(std::launch::async, [&timer] { timer.singlePass(); });
    if (pass.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        platform::FileDescriptor writer(::open(file.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        pass.wait();
        FAIL() << "the pass waited in open()";
    }
    pass.get();

    const auto lines = op().lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_THAT(lines[0], ::testing::StartsWith(" - EOleException Cannot open the channel file " + file.string()));
    EXPECT_EQ(historyRows(), 1) << "the release ran";
    EXPECT_EQ(lines.back(), " - Single pass carried out!");
    EXPECT_EQ(lastRecordOnDisk(), "3");
}
#endif

} // namespace
} // namespace ostrel
