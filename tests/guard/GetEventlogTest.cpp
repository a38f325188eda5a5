#include "guard/GetEventlog.h"

#include "GuardTestSupport.h"
#include "common/Errors.h"
#include "guard/EventlogScan.h"
#include "platform/EventSource.h"
#include "support/HttpTestServer.h"
#include "support/TestDatabase.h"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ostrel {
namespace {

using test::added;
using test::GuardDatabaseTest;
using test::HttpReply;
using test::HttpTestServer;
using test::ScriptedSource;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

using Sightings = std::map<std::string, std::int64_t>;

class GetEventlogTest : public GuardDatabaseTest {};

TEST_F(GetEventlogTest, FreshInstallationLearnsWhereTheChannelStandsThenTheNextScanWorksNormally) {
    channel.append({{140, std::nullopt, std::vector<std::string>{"alice", "203.0.113.7"}},
                    {140, std::nullopt, std::vector<std::string>{"203.0.113.8"}},
                    {140, std::nullopt, std::vector<std::string>{"203.0.113.7"}}});
    setLastRecord("0");

    scan();

    EXPECT_THAT(op().lines(), ElementsAre(" - RecordNumber 3: 203.0.113.7", " - RecordNumber 2: 203.0.113.8",
                                          " - RecordNumber 1: alice", " - RecordNumber 1: 203.0.113.7",
                                          " - First run - the last recordnumber in Windowslog: 3"));
    EXPECT_THAT(sightingsByAddress(), IsEmpty());
    EXPECT_THAT(activeBlocks(), IsEmpty());
    EXPECT_THAT(firewallChanges(), IsEmpty());
    EXPECT_EQ(lastRecord(), "3");
    EXPECT_EQ(lastRecordOnDisk(), "3");

    op().clear();
    channel.appendFailedLogons({"203.0.113.9"});
    scan();

    EXPECT_THAT(op().lines(), ElementsAre(" - RecordNumber 4: 203.0.113.9"));
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.9", 1}}));
    EXPECT_EQ(lastRecord(), "4");
    EXPECT_EQ(lastRecordOnDisk(), "4");
}

TEST_F(GetEventlogTest, FirstRunOnAnEmptyChannelStaysAFirstRun) {
    for (const char* start : {"0", "-3"}) {
        SCOPED_TRACE(start);
        op().clear();
        setLastRecord(start);
        scan();
        EXPECT_THAT(op().lines(),
                    ElementsAre(std::string(" - First run - the last recordnumber in Windowslog: ") + start));
        EXPECT_EQ(lastRecord(), start);
    }
    EXPECT_EQ(lastRecordOnDisk(), "<none>");
}

TEST_F(GetEventlogTest, EveryElementIsLoggedAndTheLastOneIsTheSighting) {
    using Strings = std::optional<std::vector<std::string>>;
    struct Case {
        const char* name;
        Strings data;
        Strings insertionStrings;
        std::vector<std::string> lines;
        Sightings stored;
    };
    const std::vector<Case> cases = {
        {"neither array", std::nullopt, std::nullopt, {}, {}},
        {"empty arrays", std::vector<std::string>{}, std::vector<std::string>{}, {}, {}},
        {"several insertion strings",
         std::nullopt,
         std::vector<std::string>{"198.51.100.1", "WORKGROUP\\bob", "203.0.113.7"},
         {" - RecordNumber %: 198.51.100.1", " - RecordNumber %: WORKGROUP\\bob", " - RecordNumber %: 203.0.113.7"},
         {{"203.0.113.7", 1}}},
        {"data only",
         std::vector<std::string>{"0", "198.51.100.2"},
         std::nullopt,
         {" - RecordNumber %: 0", " - RecordNumber %: 198.51.100.2"},
         {{"198.51.100.2", 1}}},
        {"insertion strings win over data",
         std::vector<std::string>{"198.51.100.3"},
         std::vector<std::string>{"2001:db8::5"},
         {" - RecordNumber %: 198.51.100.3", " - RecordNumber %: 2001:db8::5"},
         {{"2001:db8::5", 1}}},
        {"an empty last string leaves no sighting",
         std::nullopt,
         std::vector<std::string>{"203.0.113.7", ""},
         {" - RecordNumber %: 203.0.113.7", " - RecordNumber %: "},
         {}},
    };
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.200"})));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        op().clear();
        tables().exec("DELETE FROM " + tables().merkliste());
        const std::int64_t number = channel.append({{140, c.data, c.insertionStrings}});
        std::vector<std::string> expected;
        for (std::string line : c.lines)
            expected.push_back(line.replace(line.find('%'), 1, std::to_string(number)));

        scan();

        EXPECT_EQ(op().lines(), expected);
        EXPECT_EQ(sightingsByAddress(), c.stored);
        EXPECT_EQ(lastRecord(), std::to_string(number));
    }
}

TEST_F(GetEventlogTest, OnlyFailedLogonRecordsAboveTheMarkAreRead) {
    channel.appendFailedLogons({"198.51.100.1", "198.51.100.2"});
    channel.append({{4625, std::nullopt, std::vector<std::string>{"198.51.100.3"}}});
    const std::int64_t last = channel.appendFailedLogons({"198.51.100.4"});
    setLastRecord("1");

    scan();

    EXPECT_THAT(op().lines(), ElementsAre(" - RecordNumber 4: 198.51.100.4", " - RecordNumber 2: 198.51.100.2"));
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"198.51.100.2", 1}, {"198.51.100.4", 1}}));
    EXPECT_EQ(lastRecord(), std::to_string(last));
}

TEST_F(GetEventlogTest, NoNewRecordStillCountsAndBlocks) {
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.9"})));
    addSightings("203.0.113.7", 2);
    addSightings("203.0.113.8", 1);

    scan();

    EXPECT_THAT(op().lines(), ElementsAre(" - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!"));
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.8", 1}}));
    EXPECT_THAT(activeBlocks(), ElementsAre("203.0.113.7"));
    EXPECT_THAT(firewallChanges(), ElementsAre(added("203.0.113.7")));
    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().firewall() +
                              " WHERE Reason = ' - Counter: 1 - RDP-Block' AND RQ = 'RDP-Block'"
                              " AND `revoke` BETWEEN DATE_ADD(`Timestamp`, INTERVAL 119 MINUTE)"
                              " AND DATE_ADD(`Timestamp`, INTERVAL 121 MINUTE)"),
              1);
}

TEST_F(GetEventlogTest, ThresholdDecidesInWhichScanAnAddressIsBlocked) {
    struct Case {
        const char* threshold;
        int sightingsPerScan;
        int scansUntilBlocked;
    };
    // The threshold is the number of sightings that are still tolerated.
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.250"})));
    for (const Case c : {Case{"1", 1, 2}, Case{"1", 2, 1}, Case{"3", 1, 4}, Case{" 2 ", 3, 1}}) {
        SCOPED_TRACE(std::string("threshold '") + c.threshold + "', " + std::to_string(c.sightingsPerScan) +
                     " per scan");
        tables().exec("DELETE FROM " + tables().merkliste() + ";\nDELETE FROM " + tables().firewall() + ";");
        settings().set(&SettingsValues::BlockInvalidUserCount, std::string(c.threshold));
        for (int pass = 1; pass <= c.scansUntilBlocked; ++pass) {
            op().clear();
            channel.appendFailedLogons(std::vector<std::string>(c.sightingsPerScan, "203.0.113.7"));
            scan();
            const bool blocked = op().hasLine(" - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!");
            EXPECT_EQ(blocked, pass == c.scansUntilBlocked) << "scan " << pass;
        }
        EXPECT_EQ(sightingsByAddress().count("203.0.113.7"), 0u);
        EXPECT_THAT(activeBlocks(), ElementsAre("203.0.113.7"));
    }
}

TEST_F(GetEventlogTest, BlockInvalidUserOffStoresButNeverBlocks) {
    settings().set(&SettingsValues::BlockInvalidUser, false);
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    channel.appendFailedLogons({"203.0.113.7", "203.0.113.7", "203.0.113.7"});

    scan();

    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.7", 3}}));
    EXPECT_THAT(activeBlocks(), IsEmpty());
    EXPECT_THAT(firewallChanges(), IsEmpty());
}

TEST_F(GetEventlogTest, AddressWithMoreSightingsIsBlockedFirst) {
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    channel.appendFailedLogons({"203.0.113.7", "203.0.113.8", "203.0.113.7", "203.0.113.8", "203.0.113.8",
                                "2001:db8::7", "2001:db8::7", "2001:db8::7", "2001:db8::7"});

    scan();

    const auto lines = op().lines();
    const std::vector<std::string> blockLines(lines.end() - 3, lines.end());
    EXPECT_THAT(blockLines, ElementsAre(" - [RDP-Block] IP 2001:db8::7 is blocked for 120 minutes!",
                                        " - [RDP-Block] IP 203.0.113.8 is blocked for 120 minutes!",
                                        " - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!"));
    EXPECT_THAT(firewallChanges(), ElementsAre(added("2001:db8::7"), added("203.0.113.8"), added("203.0.113.7")));
    EXPECT_THAT(sightingsByAddress(), IsEmpty());
}

TEST_F(GetEventlogTest, SightingsCountWithinSixtyCalendarDays) {
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    addSightings("203.0.113.7", 1, "DATE_SUB(NOW(), INTERVAL 59 DAY)");
    addSightings("203.0.113.8", 1, "DATE_SUB(NOW(), INTERVAL 60 DAY)");
    channel.appendFailedLogons({"203.0.113.7", "203.0.113.8"});

    scan();

    EXPECT_THAT(activeBlocks(), ElementsAre("203.0.113.7"));
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.8", 2}}));
}

TEST_F(GetEventlogTest, DebugLogsAndMovesTheMarkButStoresAndBlocksNothing) {
    op().setDebug(true);
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    // More offenders than one delete statement takes, all handled.
    tables().exec("INSERT INTO " + tables().merkliste() +
                  " (`IP`, `Zeitstempel`) SELECT CONCAT('198.51.', a.seq DIV 200, '.', a.seq MOD 200), NOW()"
                  " FROM seq_1_to_1001 AS a, seq_1_to_2 AS b");
    addSightings("203.0.113.9", 1);
    const std::int64_t last = channel.appendFailedLogons({"203.0.113.7", "203.0.113.7"});

    scan();

    EXPECT_THAT(op().lines(), ElementsAre(" - RecordNumber " + std::to_string(last) + ": 203.0.113.7",
                                          " - RecordNumber " + std::to_string(last - 1) + ": 203.0.113.7"));
    EXPECT_EQ(lastRecord(), std::to_string(last));
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(last));
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.9", 1}}));
    EXPECT_THAT(activeBlocks(), IsEmpty());
    EXPECT_THAT(firewallChanges(), IsEmpty());
}

TEST_F(GetEventlogTest, LastRecordThatIsNoNumberWithoutAStoredMarkIsAFirstRun) {
    ScriptedSource source;
    source.records = {{5, std::nullopt, std::vector<std::string>{"203.0.113.7"}}};
    GetEventlog(ctx().context, source, "12a");
    EXPECT_THAT(op().lines(),
                ElementsAre(" - LastRecord \"12a\" is no whole number and no mark is stored: this pass is a first run.",
                            " - RecordNumber 5: 203.0.113.7", " - First run - the last recordnumber in Windowslog: 5"));
    EXPECT_THAT(sightingsByAddress(), IsEmpty());
    EXPECT_EQ(lastRecordOnDisk(), "5");
}

// The event log through WMI yields its records in an order of its own; the mark is the highest
// number read, wherever it came in the answer, for a first run and for a normal scan alike.
TEST_F(GetEventlogTest, TheMarkIsTheHighestRecordNumberWhateverOrderTheSourceAnswersIn) {
    const auto failedLogon = [](std::int64_t number, const std::string& address) {
        return platform::EventRecord{number, std::nullopt, std::vector<std::string>{address}};
    };
    ScriptedSource source;
    source.records = {failedLogon(7, "203.0.113.7"), failedLogon(9, "203.0.113.9"), failedLogon(8, "203.0.113.8")};
    setLastRecord("0");
    GetEventlog(ctx().context, source, lastRecord());
    EXPECT_EQ(lastRecord(), "9");
    EXPECT_EQ(lastRecordOnDisk(), "9");

    source.records = {failedLogon(7, "203.0.113.7"),   failedLogon(9, "203.0.113.9"),
                      failedLogon(8, "203.0.113.8"),   failedLogon(10, "203.0.113.10"),
                      failedLogon(12, "203.0.113.12"), failedLogon(11, "203.0.113.11")};
    GetEventlog(ctx().context, source, lastRecord());
    EXPECT_EQ(source.askedAbove, 9);
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.10", 1}, {"203.0.113.11", 1}, {"203.0.113.12", 1}}));
    EXPECT_EQ(lastRecord(), "12");
    EXPECT_EQ(lastRecordOnDisk(), "12");
    EXPECT_EQ(tables().scalar("SELECT RecordNumber AS value FROM " + tables().lastrecord()), 12);
}

TEST_F(GetEventlogTest, ThresholdOrBlockTimeOutsideItsRangeFailsAfterTheSightingsAreStored) {
    // Typed into the dialog and read before any Save: a negative or empty block time never
    // becomes a block without end.
    struct Case {
        std::string SettingsValues::*field;
        std::string value;
        std::string message;
    };
    const std::string count = " (BlockInvalidUserCount takes a whole number from 1 to 50)";
    const std::string time = " (BlockInvalidUserInterval takes a whole number from 0 to 1440)";
    const std::vector<Case> cases = {
        {&SettingsValues::BlockInvalidUserCount, "x1", "'x1' ist kein gültiger Integerwert" + count},
        {&SettingsValues::BlockInvalidUserCount, "", "'' ist kein gültiger Integerwert" + count},
        {&SettingsValues::BlockInvalidUserInterval, "x1", "'x1' ist kein gültiger Integerwert" + time},
        {&SettingsValues::BlockInvalidUserInterval, "-5", "'-5' is out of range" + time},
        {&SettingsValues::BlockInvalidUserInterval, "", "'' ist kein gültiger Integerwert" + time},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        tables().exec("DELETE FROM " + tables().merkliste());
        op().clear();
        settings().set(&SettingsValues::BlockInvalidUserCount, std::string("1"));
        settings().set(&SettingsValues::BlockInvalidUserInterval, std::string("120"));
        settings().set(c.field, c.value);
        setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
        const std::int64_t last = channel.appendFailedLogons({"203.0.113.7", "203.0.113.7"});

        try {
            scan();
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }

        EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.7", 2}}));
        EXPECT_EQ(lastRecord(), std::to_string(last));
        EXPECT_THAT(activeBlocks(), IsEmpty());
    }
}

TEST_F(GetEventlogTest, FailedBlockStillDeletesTheSightingsOfTheAddressesHandledBefore) {
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    // 203.0.113.7 is active already (an extension needs no history); the new block of
    // 203.0.113.8 fails on its history count.
    tables().exec("INSERT INTO " + tables().firewall() +
                  " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), "
                  "DATE_ADD(NOW(), INTERVAL 1 HOUR), '203.0.113.7', 'r', 'c', 'RDP-Block')");
    tables().exec("DROP TABLE " + tables().history());
    channel.appendFailedLogons({"203.0.113.7", "203.0.113.7", "203.0.113.7", "203.0.113.8", "203.0.113.8"});

    EXPECT_THROW(scan(), EDatabaseError);

    EXPECT_TRUE(op().hasLine(" - [RDP-Block] IP 203.0.113.7 - Blocktime extendet by 120 minutes!"));
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.8", 2}}));
}

// The scan hands every address above the threshold to the block operation, which leaves those on
// the allow list alone; their sightings go like the others', so they are not told again every pass.
TEST_F(GetEventlogTest, AddressesOnTheAllowListAreNeitherBlockedNorReported) {
    HttpTestServer reports(HttpReply{200, "OK", "reported", {}});
    settings().set(&SettingsValues::Report, true);
    settings().set(&SettingsValues::AbuseReportRDPURL, reports.baseUrl() + "/report.php?x=1");
    settings().set(&SettingsValues::AllowList, std::string("198.51.100.0/24, 2001:db8::7"));
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    channel.appendFailedLogons({"198.51.100.20", "198.51.100.20", "198.51.100.20", "2001:DB8:0::7", "2001:DB8:0::7",
                                "2001:DB8:0::7", "203.0.113.7", "203.0.113.7"});

    scan();

    EXPECT_TRUE(op().hasLine(" - IP 198.51.100.20 is on the allow list - not blocked."));
    EXPECT_TRUE(op().hasLine(" - IP 2001:db8::7 is on the allow list - not blocked.")) << "in its one spelling";
    EXPECT_TRUE(op().hasLine(" - [RDP-Block] IP 203.0.113.7 is blocked for 120 minutes!"));
    EXPECT_THAT(activeBlocks(), ElementsAre("203.0.113.7"));
    EXPECT_THAT(firewallChanges(), ElementsAre(added("203.0.113.7")));
    // The allowed addresses come first (more sightings): once the last block is reported, theirs would be too.
    ASSERT_TRUE(reports.waitForRequests(1));
    ASSERT_EQ(reports.requests().size(), 1u);
    EXPECT_THAT(reports.requests()[0].requestLine, ::testing::HasSubstr("&IP=203.0.113.7"));
    EXPECT_THAT(sightingsByAddress(), IsEmpty());
}

TEST_F(GetEventlogTest, HostileAddressIsStoredExactlyAndNeverBlocked) {
    const std::string hostile = "198.51.100.1\"); DROP TABLE " + tables().firewall() + "; -- '\\";
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    channel.appendFailedLogons({hostile});
    scan();
    EXPECT_EQ(sightingsByAddress(), (Sightings{{hostile, 1}}));

    channel.appendFailedLogons({hostile});
    scan();

    EXPECT_TRUE(op().hasLine(" - Invalid IP address: " + hostile + " - not blocked."));
    EXPECT_THAT(sightingsByAddress(), IsEmpty());
    EXPECT_THAT(activeBlocks(), IsEmpty());
    EXPECT_THAT(firewallChanges(), IsEmpty());
}

TEST_F(GetEventlogTest, OverlongAddressIsCutToTheColumnAndDoesNotStopTheScan) {
    const std::string overlong = std::string(300, 'a') + "ä";
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    const std::int64_t last = channel.appendFailedLogons({overlong, "203.0.113.7"});

    scan();

    EXPECT_EQ(sightingsByAddress(), (Sightings{{std::string(255, 'a'), 1}, {"203.0.113.7", 1}}));
    EXPECT_EQ(lastRecord(), std::to_string(last));
}

TEST_F(GetEventlogTest, StoreIsAllOrNothingSoAFailedScanIsReadAgainWhole) {
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    const std::string markBefore = lastRecord();
    // More sightings than one insert statement takes; one of the second statement fails.
    std::vector<std::string> addresses;
    for (int i = 0; i < 1500; ++i)
        addresses.push_back("198.51.100." + std::to_string(i % 250));
    addresses[100] = "203.0.113.66"; // read late: the newest come first
    const std::int64_t last = channel.appendFailedLogons(addresses);
    settings().set(&SettingsValues::BlockInvalidUser, false);
    tables().exec("CREATE TRIGGER " + tables().prefix() + "refuse BEFORE INSERT ON " + tables().merkliste() +
                  " FOR EACH ROW IF NEW.IP = '203.0.113.66' THEN"
                  " SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'storage refused'; END IF");

    try {
        scan();
        FAIL() << "no error";
    } catch (const EDatabaseError& error) {
        EXPECT_THAT(error.what(), ::testing::HasSubstr("storage refused"));
    }
    EXPECT_THAT(sightingsByAddress(), IsEmpty());
    EXPECT_EQ(lastRecord(), markBefore);
    EXPECT_EQ(lastRecordOnDisk(), "<none>");

    tables().exec("DROP TRIGGER " + tables().prefix() + "refuse");
    scan();

    EXPECT_EQ(tables().scalar("SELECT COUNT(*) AS value FROM " + tables().merkliste()), 1500);
    EXPECT_EQ(sightingsByAddress()["203.0.113.66"], 1);
    EXPECT_EQ(lastRecord(), std::to_string(last));
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(last));
}

TEST_F(GetEventlogTest, RecordNumbersPast32BitsAreReadAndSaved) {
    {
        std::filesystem::create_directories(channel.writer.file().parent_path());
        std::ofstream out(channel.writer.file(), std::ios::binary);
        out << R"({"RecordNumber":2147483646,"EventCode":140,"Data":null,"InsertionStrings":["198.51.100.1"]})"
            << "\n";
    }
    setLastRecord("2147483646");
    channel.appendFailedLogons({"203.0.113.7", "203.0.113.8"});

    scan();

    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.7", 1}, {"203.0.113.8", 1}}));
    EXPECT_EQ(lastRecordOnDisk(), "2147483648");

    channel.appendFailedLogons({"203.0.113.9"});
    scan();

    EXPECT_EQ(sightingsByAddress()["203.0.113.9"], 1);
    EXPECT_EQ(lastRecord(), "2147483649");
    EXPECT_EQ(lastRecordOnDisk(), "2147483649");
    EXPECT_EQ(tables().scalar("SELECT RecordNumber AS value FROM " + tables().lastrecord()), 2147483649);
}

TEST_F(GetEventlogTest, AnElementIsLoggedCutWithItsFullSize) {
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    // Large, yet within the longest channel line that is read.
    const std::string huge(900 * 1024, 'x');
    const std::string exact(EventlogScan::LoggedElementCharacters, 'y');
    std::string wide;
    for (std::size_t i = 0; i <= EventlogScan::LoggedElementCharacters; ++i)
        wide += "ä";
    channel.append({{140, std::vector<std::string>{huge}, std::vector<std::string>{exact, wide, "203.0.113.7"}}});

    scan();

    const std::string prefix = " - RecordNumber 2: ";
    EXPECT_THAT(op().lines(), ElementsAre(prefix + std::string(EventlogScan::LoggedElementCharacters, 'x') +
                                              " ... [921600 bytes in all]",
                                          prefix + exact,
                                          prefix + wide.substr(0, 2 * EventlogScan::LoggedElementCharacters) +
                                              " ... [" + std::to_string(wide.size()) + " bytes in all]",
                                          prefix + "203.0.113.7"));
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.7", 1}}));
}

TEST_F(GetEventlogTest, WithDetailLogAScanThatSkippedLinesSaysHowMany) {
    settings().set(&SettingsValues::BlockInvalidUser, false);
    setLastRecord(std::to_string(channel.appendFailedLogons({"198.51.100.1"})));
    auto appendDamage = [&] {
        std::ofstream out(channel.writer.file(), std::ios::binary | std::ios::app);
        out << "not a record\n{\"RecordNumber\":\n";
    };
    struct Case {
        const char* name;
        bool detailLog;
        bool damage;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"without DetailLog", false, true, {" - RecordNumber %: 203.0.113.7"}},
        {"with DetailLog",
         true,
         true,
         {" - RecordNumber %: 203.0.113.7", " - 2 lines of the event log could not be read and were skipped."}},
        {"with DetailLog, nothing skipped", true, false, {" - RecordNumber %: 203.0.113.7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        op().clear();
        op().setDetailLog(c.detailLog);
        if (c.damage)
            appendDamage();
        const std::string number = std::to_string(channel.appendFailedLogons({"203.0.113.7"}));
        scan();
        std::vector<std::string> expected = c.lines;
        expected[0].replace(expected[0].find('%'), 1, number);
        EXPECT_EQ(op().lines(), expected);
    }
}

} // namespace
} // namespace ostrel
