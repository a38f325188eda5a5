// A store whose outcome the guard never saw (the reply to its COMMIT lost, or the program gone
// before LastRecord reached Config.ini) is neither lost nor made twice.
#include "common/Conversion.h"
#include "common/Errors.h"
#include "guard/GuardTestSupport.h"
#include "guard/GuardTimer.h"
#include "platform/EventSource.h"
#include "support/linux/TcpForwarder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>

namespace ostrel {
namespace {

using ::testing::HasSubstr;

class NoProgress : public PassProgress {
public:
    void setMaximum(int) override {}
    void stepIt() override {}
    void reset() override {}
};

class StoreOutcomeTest : public test::SightingsOnlyTest {
protected:
    void SetUp() override {
        SightingsOnlyTest::SetUp();
        if (IsSkipped())
            return;
        m_mark = channel.appendFailedLogons(std::vector<std::string>(5, "198.51.100.1"));
        setLastRecord(std::to_string(m_mark));
        m_last = channel.appendFailedLogons({"203.0.113.1", "203.0.113.2", "203.0.113.1"});
    }
    std::int64_t sightings() { return tables().scalar("SELECT COUNT(*) AS value FROM " + tables().merkliste()); }
    std::int64_t storedMark() { return tables().scalar("SELECT RecordNumber AS value FROM " + tables().lastrecord()); }
    bool logged(const std::string& text) { return op().hasLineContaining(text); }

    // The database reached through a proxy that can lose a reply; none where the test server is
    // not on loopback.
    test::TcpForwarder* throughProxy() {
        const test::TestServer& server = test::TestServer::get();
        if (server.host != "127.0.0.1")
            return nullptr;
        m_proxy.emplace(server.host, static_cast<std::uint16_t>(server.port));
        settings().set(&SettingsValues::SQLPort, std::to_string(m_proxy->port()));
        return &*m_proxy;
    }

    std::int64_t m_mark = 0;
    std::int64_t m_last = 0;
    NoProgress m_progress;
    std::optional<test::TcpForwarder> m_proxy;
};

TEST_F(StoreOutcomeTest, ACommitWhoseReplyIsLostIsStoredOnce) {
    test::TcpForwarder* proxy = throughProxy();
    if (!proxy)
        GTEST_SKIP() << "the proxy needs the test server on 127.0.0.1";
    GuardTimer timer(ctx().context, channel.source, m_progress);

    proxy->loseNextCommitReply();
    timer.singlePass();

    ASSERT_EQ(proxy->lostReplies(), 1);
    EXPECT_TRUE(logged(" EDatabaseError:")) << "the scan saw the connection break";
    EXPECT_EQ(sightings(), 3) << "the commit landed on the server";
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(m_mark)) << "the scan cannot know it did";

    op().clear();
    timer.singlePass();

    EXPECT_EQ(sightings(), 3) << "stored again";
    EXPECT_EQ(lastRecord(), std::to_string(m_last));
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(m_last));
    EXPECT_TRUE(logged(" - The sightings up to record " + std::to_string(m_last) + " are stored already"));
    EXPECT_FALSE(logged("Error"));

    // Later records are stored as ever.
    channel.appendFailedLogons({"203.0.113.3"});
    timer.singlePass();
    EXPECT_EQ(sightings(), 4);
    EXPECT_EQ(storedMark(), m_last + 1);
}

// The blocks of a pass and the deletion of their sightings commit together: when the reply to
// that commit is lost, the next pass neither counts the sightings again nor extends the block.
TEST_F(StoreOutcomeTest, ABlockWhoseCommitReplyIsLostIsNotCountedAgain) {
    test::TcpForwarder* proxy = throughProxy();
    if (!proxy)
        GTEST_SKIP() << "the proxy needs the test server on 127.0.0.1";
    GuardTimer timer(ctx().context, channel.source, m_progress);
    timer.singlePass(); // stores the sightings, blocks nothing
    ASSERT_EQ(sightings(), 3);

    // 203.0.113.1 was seen twice; the next pass stores nothing new, so its first COMMIT is the block's.
    settings().set(&SettingsValues::BlockInvalidUser, true);
    settings().set(&SettingsValues::BlockInvalidUserCount, std::string("1"));
    proxy->loseNextCommitReply();
    timer.singlePass();
    ASSERT_EQ(proxy->lostReplies(), 1);
    EXPECT_TRUE(logged(" EDatabaseError:")) << "the scan saw the connection break";

    op().clear();
    timer.singlePass();
    EXPECT_EQ(activeBlocks(), std::vector<std::string>{"203.0.113.1"});
    EXPECT_EQ(sightingsByAddress(), (std::map<std::string, std::int64_t>{{"203.0.113.2", 1}}));
    EXPECT_FALSE(logged("extended block"));
    EXPECT_FALSE(logged("Error"));
    EXPECT_EQ(
        tables().scalar("SELECT TIMESTAMPDIFF(MINUTE, `Timestamp`, `revoke`) AS value FROM " + tables().firewall()),
        StrToInt(settings().get(&SettingsValues::BlockInvalidUserInterval)))
        << "the block was not extended";
}

TEST_F(StoreOutcomeTest, AProgramGoneBeforeLastRecordReachedTheFileStoresNothingTwice) {
    GuardTimer timer(ctx().context, channel.source, m_progress);
    timer.singlePass();
    ASSERT_EQ(sightings(), 3);
    ASSERT_EQ(storedMark(), m_last);

    // The file as a program that died right after the commit leaves it, and a new start that loads it.
    ctx().ini.WriteString("LastRecord", std::to_string(m_mark));
    setLastRecord(std::to_string(m_mark));
    op().clear();
    timer.singlePass();

    EXPECT_EQ(sightings(), 3);
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(m_last));
    EXPECT_THAT(op().lines(), ::testing::Contains(HasSubstr("are stored already")));
}

TEST_F(StoreOutcomeTest, AMarkInTheFileAheadOfTheStoredOneIsKept) {
    // An installation whose table is new, or a LastRecord moved on by hand: the file's mark counts.
    tables().exec("INSERT INTO " + tables().lastrecord() + " (`Channel`, `RecordNumber`) VALUES (\"" +
                  platform::RdpChannel + "\", 2)");
    GuardTimer timer(ctx().context, channel.source, m_progress);
    timer.singlePass();
    EXPECT_EQ(sightings(), 3);
    EXPECT_EQ(storedMark(), m_last);
    EXPECT_FALSE(logged("are stored already"));
}

TEST_F(StoreOutcomeTest, WithoutItsTableTheScanStopsWithAClearErrorAndLosesNothing) {
    tables().exec("DROP TABLE " + tables().lastrecord());
    GuardTimer timer(ctx().context, channel.source, m_progress);
    timer.singlePass();

    EXPECT_TRUE(logged(" EDatabaseError:The table " + tables().lastrecord() + " is missing"));
    EXPECT_TRUE(logged("sql/schema.sql"));
    EXPECT_EQ(sightings(), 0);
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(m_mark));

    tables().exec("CREATE TABLE " + tables().lastrecord() +
                  " (`Machine` VARCHAR(255) NOT NULL DEFAULT '', `Channel` VARCHAR(255) NOT NULL,"
                  " `RecordNumber` BIGINT NOT NULL, `Fingerprint` VARCHAR(64) NOT NULL DEFAULT '',"
                  " PRIMARY KEY (`Machine`, `Channel`))");
    timer.singlePass();
    EXPECT_EQ(sightings(), 3);
    EXPECT_EQ(lastRecordOnDisk(), std::to_string(m_last));
}

} // namespace
} // namespace ostrel
