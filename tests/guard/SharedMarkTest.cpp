#include "GuardTestSupport.h"
#include "common/Errors.h"
#include "guard/EventlogScan.h"
#include "guard/GetEventlog.h"
#include "guard/GuardTimer.h"
#include "platform/EventChannel.h"
#include "platform/EventSource.h"
#include "platform/System.h"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ostrel {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using Sightings = std::map<std::string, std::int64_t>;

using test::NoProgress;
using test::OtherGuard;

class SharedMarkTest : public test::SightingsOnlyTest {
protected:
    void SetUp() override {
        SightingsOnlyTest::SetUp();
        if (IsSkipped())
            return;
        ctx().ini.WriteString("Machine", "server-a");
    }
    // A failed logon from before the guard's first run, so that the channel's next ones are
    // numbered from `number` + 1 on.
    static void startNumbersAt(test::TestChannel& channel, std::int64_t number) {
        std::filesystem::create_directories(channel.source.file().parent_path());
        std::ofstream(channel.source.file(), std::ios::app | std::ios::binary)
            << R"({"RecordNumber":)" << number << R"(,"EventCode":140,"InsertionStrings":["198.51.100.250"]})"
            << "\n";
    }
    std::map<std::string, std::int64_t> marks() {
        std::map<std::string, std::int64_t> rows;
        ResultSet result = tables().query("SELECT Machine, RecordNumber FROM " + tables().lastrecord());
        for (; !result.eof(); result.next())
            rows[result.text("Machine")] = result.integer("RecordNumber");
        return rows;
    }
    void storeOldLayoutMark(std::int64_t number) {
        tables().exec("INSERT INTO " + tables().lastrecord() +
                      " (`Machine`, `Channel`, `RecordNumber`) VALUES (\"\", \"" + platform::RdpChannel + "\", " +
                      std::to_string(number) + ")");
    }
};

TEST_F(SharedMarkTest, GuardsSharingAPrefixKeepTheirOwnMarksAndLoseNothing) {
    OtherGuard b(tables(), "server-b");
    test::TestChannel channelB;
    startNumbersAt(channel, 5000);
    startNumbersAt(channelB, 300);
    scan(); // first runs: both learn where their channels stand
    b.scan(channelB.source);
    Sightings expected;
    int address = 0;
    auto offend = [&](test::TestChannel& on, int count) {
        for (int i = 0; i < count; ++i) {
            const std::string text = "198.51.100." + std::to_string(++address);
            on.appendFailedLogons({text});
            expected[text] = 1;
        }
    };
    for (int pass = 0; pass < 4; ++pass) {
        offend(channel, 3);
        offend(channelB, 2);
        // Each order of the two guards' passes, and passes with nothing new.
        if (pass % 2 == 0) {
            scan();
            b.scan(channelB.source);
        } else {
            b.scan(channelB.source);
            scan();
            scan();
        }
    }
    EXPECT_EQ(marks(), (std::map<std::string, std::int64_t>{{"server-a", 5012}, {"server-b", 308}}));

    // Server B's log is cleared: its numbers start again, far below server A's.
    std::filesystem::remove(channelB.source.file());
    offend(channelB, 4);
    b.scan(channelB.source);
    offend(channel, 1);
    offend(channelB, 1);
    scan();
    b.scan(channelB.source);

    EXPECT_EQ(sightingsByAddress(), expected);
    EXPECT_EQ(marks(), (std::map<std::string, std::int64_t>{{"server-a", 5013}, {"server-b", 5}}));
    EXPECT_THAT(op().lines(), Not(Contains(HasSubstr("are stored already"))));
    EXPECT_THAT(b.ctx.op.lines(), Not(Contains(HasSubstr("are stored already"))));
    EXPECT_THAT(b.ctx.op.lines(), Contains(HasSubstr(" - The event log started again: its newest record is 4, below "
                                                     "the mark 308.")));
}

TEST_F(SharedMarkTest, AMarkOfTheOldLayoutIsTakenOverOnceByTheFirstMachine) {
    channel.appendFailedLogons(std::vector<std::string>(77, "198.51.100.1"));
    storeOldLayoutMark(77);
    channel.appendFailedLogons({"203.0.113.1", "203.0.113.2"});
    setLastRecord("0"); // a Config.ini that never reached the file, as after a reinstall

    scan();

    EXPECT_THAT(op().lines(), Contains(" - The mark 77 stored before marks were kept per machine is now this machine's "
                                       "(server-a)."));
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.1", 1}, {"203.0.113.2", 1}}));
    EXPECT_EQ(marks(), (std::map<std::string, std::int64_t>{{"server-a", 79}}));

    // Another machine on the same prefix finds nothing left to take: a first run of its own.
    OtherGuard b(tables(), "server-b");
    test::TestChannel channelB;
    channelB.appendFailedLogons({"203.0.113.9"});
    b.scan(channelB.source);
    EXPECT_THAT(b.ctx.op.lines(),
                ElementsAre(" - RecordNumber 1: 203.0.113.9", " - First run - the last recordnumber in Windowslog: 1"));
    EXPECT_EQ(marks(), (std::map<std::string, std::int64_t>{{"server-a", 79}, {"server-b", 1}}));
}

TEST_F(SharedMarkTest, ATableOfTheOldLayoutStopsTheScanWithTheUpgradeToDo) {
    tables().exec("DROP TABLE " + tables().lastrecord());
    tables().exec("CREATE TABLE " + tables().lastrecord() +
                  " (`Channel` VARCHAR(255) NOT NULL, `RecordNumber` BIGINT NOT NULL, PRIMARY KEY (`Channel`))");
    setLastRecord("1");
    channel.appendFailedLogons({"203.0.113.1", "203.0.113.2"});

    EXPECT_THROW(scan(), EDatabaseError);
    EXPECT_THAT(sightingsByAddress(), IsEmpty());
    EXPECT_EQ(lastRecord(), "1");
}

TEST_F(SharedMarkTest, ALastRecordThatIsNoNumberFallsBackOnTheStoredMarkOrAFirstRun) {
    for (const std::string garbage : {"abc", "", "5abc", "5.0", "12345678901234567890"}) {
        for (const bool stored : {true, false}) {
            SCOPED_TRACE(garbage + (stored ? " with a stored mark" : " without a stored mark"));
            tables().exec("DELETE FROM " + tables().merkliste());
            tables().exec("DELETE FROM " + tables().lastrecord());
            std::filesystem::remove(channel.source.file());
            const std::int64_t mark = channel.appendFailedLogons({"198.51.100.1", "198.51.100.2"});
            if (stored) {
                setLastRecord("0");
                scan(); // the first run stores the mark
            }
            channel.appendFailedLogons({"203.0.113.1", "203.0.113.2"});
            // As a load of a Config.ini holding it leaves it.
            ctx().ini.WriteString("LastRecord", garbage);
            setLastRecord(garbage);
            op().clear();

            scan();
            scan();

            const std::string quoted = " - LastRecord \"" + garbage + "\" is no whole number";
            if (stored) {
                EXPECT_EQ(op().lines().front(), quoted + ": the stored mark " + std::to_string(mark) + " is used.");
                EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.1", 1}, {"203.0.113.2", 1}}));
            } else {
                EXPECT_EQ(op().lines().front(), quoted + " and no mark is stored: this pass is a first run.");
                EXPECT_THAT(op().lines(), Contains(" - First run - the last recordnumber in Windowslog: 4"));
                EXPECT_THAT(sightingsByAddress(), IsEmpty());
            }
            EXPECT_EQ(lastRecord(), "4");
            EXPECT_EQ(lastRecordOnDisk(), "4");
            int reports = 0;
            for (const std::string& line : op().lines())
                reports += line.find("is no whole number") != std::string::npos ? 1 : 0;
            EXPECT_EQ(reports, 1) << "the value is repaired by the first pass";
        }
    }
}

TEST_F(SharedMarkTest, AStoreAfterAnotherGuardMovedTheMarkFailsWholeAndNothingIsDoubled) {
    OtherGuard second(tables(), "server-a"); // the same machine, and no claim between them
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    scan();
    second.ctx.settings.set(&SettingsValues::LastRecord, lastRecord());
    channel.appendFailedLogons({"203.0.113.1", "203.0.113.2"});

    EventlogScan first(ctx().context, lastRecord());
    first.read(channel.source);
    second.scan(channel.source);
    EXPECT_THROW(first.store(), EDatabaseError);

    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.1", 1}, {"203.0.113.2", 1}}));
    EXPECT_EQ(marks(), (std::map<std::string, std::int64_t>{{"server-a", 3}}));
    // The next pass of the first guard reads on from where the other stored.
    op().clear();
    channel.appendFailedLogons({"203.0.113.3"});
    scan();
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.1", 1}, {"203.0.113.2", 1}, {"203.0.113.3", 1}}));
}

TEST_F(SharedMarkTest, OfTwoGuardsOnOneMachineAndChannelOnlyOneScans) {
    NoProgress progress;
    OtherGuard second(tables(), "server-a");
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    second.ctx.settings.set(&SettingsValues::LastRecord, lastRecord());
    const auto claimFile = platform::channelClaimFile(channel.folder.path());
    auto firstTimer = std::make_unique<GuardTimer>(ctx().context, channel.source, progress);
    GuardTimer secondTimer(second.ctx.context, channel.source, progress);
    firstTimer->claimChannelAt(claimFile);
    secondTimer.claimChannelAt(claimFile);

    Sightings expected;
    for (int pass = 1; pass <= 3; ++pass) {
        const std::string address = "203.0.113." + std::to_string(pass);
        channel.appendFailedLogons({address});
        expected[address] = 1;
        firstTimer->singlePass();
        secondTimer.singlePass();
    }
    EXPECT_EQ(sightingsByAddress(), expected);
    const std::string held = " - The event log is guarded by process " + std::to_string(platform::currentProcessId()) +
                             " on this machine already: this guard does not read it.";
    EXPECT_THAT(second.ctx.op.lines(), ElementsAre(held, " - Single pass carried out!", " - Single pass carried out!",
                                                   " - Single pass carried out!"));
    EXPECT_FALSE(secondTimer.lastScanError());

    // The first guard ends: the second takes over and reads on from the stored mark.
    firstTimer.reset();
    second.ctx.op.clear();
    channel.appendFailedLogons({"203.0.113.9"});
    expected["203.0.113.9"] = 1;
    secondTimer.singlePass();
    EXPECT_EQ(sightingsByAddress(), expected);
    EXPECT_THAT(second.ctx.op.lines(), Contains(" - The event log is guarded here again: the other guard (process " +
                                                std::to_string(platform::currentProcessId()) + ") is gone."));
}

} // namespace
} // namespace ostrel
