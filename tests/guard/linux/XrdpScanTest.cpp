#include "guard/GetEventlog.h"
#include "guard/GuardTestSupport.h"
#include "guard/GuardTimer.h"
#include "platform/EventChannel.h"
#include "platform/System.h"
#include "platform/XrdpLogSource.h"
#include "support/TempFolder.h"

#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using Sightings = std::map<std::string, std::int64_t>;

// The scan over xrdp's log, pass after pass, with the mark it stores: the source's own numbering
// holds across passes, so no pass may take the log for one that started again and count it anew.
class XrdpScanTest : public SightingsOnlyTest {
protected:
    void authfail(const std::string& address) {
        std::ofstream(m_log, std::ios::app)
            << "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=" << address << " time=1796936675\n";
    }
    void other() { std::ofstream(m_log, std::ios::app) << "[20261210-21:04:36] [INFO ] login successful\n"; }
    void scan() { GetEventlog(ctx().context, m_source, lastRecord()); }
    // A guard's lock on the log, and the numbering it shares, lie in the machine's lock folder,
    // not in the test's own.
    void TearDown() override {
        const std::filesystem::path lock = platform::xrdpClaimFile(m_log);
        const std::string ours = lock.stem().string() + ".";
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(lock.parent_path(), ignored))
            if (entry.path().filename().string().starts_with(ours))
                std::filesystem::remove(entry.path(), ignored);
        SightingsOnlyTest::TearDown();
    }

    TempFolder m_folder;
    std::filesystem::path m_log = m_folder / "xrdp-sesman.log";
    platform::XrdpLogSource m_source{m_log, m_folder / "xrdp-sesman.log.position"};
};

TEST_F(XrdpScanTest, EveryFailedLogonIsCountedOncePassAfterPass) {
    authfail("203.0.113.1"); // before the guard: history
    setLastRecord("0");
    scan();
    EXPECT_THAT(sightingsByAddress(), ::testing::IsEmpty());

    authfail("::ffff:203.0.113.7");
    other();
    scan();
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"203.0.113.7", 1}}));

    scan(); // nothing new
    authfail("203.0.113.7");
    authfail("2001:db8::9");
    scan();
    other();
    scan();
    authfail("203.0.113.7");
    scan();
    EXPECT_EQ(sightingsByAddress(), (Sightings{{"2001:db8::9", 1}, {"203.0.113.7", 3}}));
    EXPECT_THAT(op().lines(), ::testing::Not(::testing::Contains(::testing::HasSubstr("started again"))));
}

// The window and the service of one machine, each with a channel folder and a position file of its
// own, both told to follow the same xrdp log with one database and prefix: only one reads it, and
// when it ends the other goes on where it left off.
TEST_F(XrdpScanTest, OfTwoGuardsOnOneMachineFollowingTheLogOneReadsItAndTheOtherTakesOverWhereItLeftOff) {
    ctx().ini.WriteString("Machine", "server-a");
    OtherGuard second(tables(), "server-a");
    platform::XrdpLogSource secondSource{m_log, m_folder / "second" / "xrdp-sesman.log.position"};
    std::filesystem::create_directories(m_folder / "second");
    TempFolder firstChannel;
    TempFolder secondChannel;
    NoProgress progress;
    auto firstTimer = std::make_unique<GuardTimer>(ctx().context, m_source, progress);
    GuardTimer secondTimer(second.ctx.context, secondSource, progress);
    firstTimer->claimChannelAt(platform::channelClaimFile(firstChannel.path()));
    secondTimer.claimChannelAt(platform::channelClaimFile(secondChannel.path()));

    authfail("203.0.113.1"); // before the guards: history
    setLastRecord("0");
    second.ctx.settings.set(&SettingsValues::LastRecord, std::string("0"));
    Sightings expected;
    for (int pass = 2; pass <= 4; ++pass) {
        firstTimer->singlePass();
        secondTimer.singlePass();
        const std::string address = "203.0.113." + std::to_string(pass);
        authfail(address);
        expected[address] = 1;
    }
    firstTimer->singlePass();
    secondTimer.singlePass();
    EXPECT_EQ(sightingsByAddress(), expected);
    const std::string process = "process " + std::to_string(platform::currentProcessId());
    const std::vector<std::string> lines = second.ctx.op.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         " - The event log is guarded by " + process +
                             " on this machine already: this guard does not read it."),
              1);
    EXPECT_THAT(lines, ::testing::Not(::testing::Contains(::testing::HasSubstr("another guard"))));
    EXPECT_FALSE(secondTimer.lastScanError());

    // A failed logon after the first guard's last pass, then it ends: the second takes over with
    // the shared numbering, from the mark the first stored, so that logon counts too, once.
    authfail("203.0.113.8");
    expected["203.0.113.8"] = 1;
    firstTimer.reset();
    second.ctx.op.clear();
    secondTimer.singlePass();
    EXPECT_THAT(second.ctx.op.lines(), ::testing::Contains(" - The event log is guarded here again: the other guard (" +
                                                           process + ") is gone."));
    authfail("203.0.113.9");
    expected["203.0.113.9"] = 1;
    secondTimer.singlePass();
    EXPECT_EQ(sightingsByAddress(), expected);
    EXPECT_FALSE(secondTimer.lastScanError());
}

TEST(XrdpClaimFile, OneLockFileOfTheMachinePerLogWhateverItsSpelling) {
    EXPECT_EQ(platform::xrdpClaimFile("/var/log/xrdp-sesman.log"),
              std::filesystem::path("/run/lock/rdp-ostrel-xrdp%4var%4log%4xrdp-sesman.log.guard"));
    EXPECT_EQ(platform::xrdpClaimFile("/var/log/../log//xrdp-sesman.log"),
              platform::xrdpClaimFile("/var/log/xrdp-sesman.log"));
    EXPECT_NE(platform::xrdpClaimFile("/srv/xrdp/xrdp-sesman.log"),
              platform::xrdpClaimFile("/var/log/xrdp-sesman.log"));
    // Its numbering beside it, one per place where the guards keep their marks.
    const std::filesystem::path shared = platform::xrdpSharedPositionFile("/var/log/xrdp-sesman.log", "db/a");
    EXPECT_EQ(shared.parent_path(), "/run/lock");
    EXPECT_TRUE(shared.filename().string().starts_with("rdp-ostrel-xrdp%4var%4log%4xrdp-sesman.log."));
    EXPECT_EQ(shared.extension(), ".position");
    EXPECT_EQ(platform::xrdpSharedPositionFile("/var/log/../log//xrdp-sesman.log", "db/a"), shared);
    EXPECT_NE(platform::xrdpSharedPositionFile("/var/log/xrdp-sesman.log", "db/b"), shared);
}

} // namespace
} // namespace ostrel::test
