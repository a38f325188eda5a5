#include "platform/XrdpLogSource.h"

#include "platform/EventSource.h"
#include "platform/linux/ChildProcess.h"
#include "support/TempFolder.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace ostrel::test {
namespace {

using platform::XrdpLogSource;

std::string authfail(const std::string& address) {
    return "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=" + address + " time=1796936675\n";
}

std::string otherLine() {
    return "[20261210-21:04:32] [INFO ] Received system login request from ::ffff:203.0.113.9 for user: bob\n";
}

// The guard as the scan uses a source: a pass reads the records above its mark; a pass that
// stores moves the mark to the newest record and counts the addresses.
class Follower {
public:
    Follower(std::filesystem::path log, std::filesystem::path position,
             std::size_t maxLine = XrdpLogSource::MaxLineBytes)
        : m_log(std::move(log)), m_position(std::move(position)), m_maxLine(maxLine) {
        restart();
    }
    void restart() { m_source = std::make_unique<XrdpLogSource>(m_log, m_position, m_maxLine); }

    // The addresses the pass read, oldest first.
    std::vector<std::string> pass(bool stores = true) {
        const std::vector<platform::EventRecord> records = m_source->recordsAbove(mark);
        std::vector<std::string> addresses;
        for (auto record = records.rbegin(); record != records.rend(); ++record) {
            if (record->InsertionStrings)
                addresses.push_back(record->InsertionStrings->back());
        }
        for (std::size_t i = 1; i < records.size(); ++i)
            EXPECT_GT(records[i - 1].RecordNumber, records[i].RecordNumber) << "newest first, numbers grow";
        if (stores && !records.empty()) {
            EXPECT_GT(records.front().RecordNumber, mark);
            mark = records.front().RecordNumber;
            for (const std::string& address : addresses)
                ++counted[address];
        }
        return addresses;
    }
    std::size_t skipped() const { return m_source->skippedLines(); }

    std::int64_t mark = 0;
    std::map<std::string, int> counted;

private:
    std::filesystem::path m_log;
    std::filesystem::path m_position;
    std::size_t m_maxLine;
    std::unique_ptr<XrdpLogSource> m_source;
};

class XrdpLogSourceTest : public ::testing::Test {
protected:
    void append(const std::string& text) { append(m_log, text); }
    static void append(const std::filesystem::path& file, const std::string& text) {
        std::ofstream out(file, std::ios::app | std::ios::binary);
        out << text;
    }
    // logrotate's copytruncate: a copy beside the log, then the log cut to nothing in place.
    void copyTruncate(const std::string& copyName = "xrdp-sesman.log.1") {
        std::filesystem::copy_file(m_log, m_folder / copyName, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(m_log, 0);
    }
    void renameAway(const std::string& name = "xrdp-sesman.log.1") { std::filesystem::rename(m_log, m_folder / name); }
    // gzip's own program, as logrotate calls it: the file becomes FILE.gz.
    static void gzip(const std::filesystem::path& file) {
        const platform::ProcessOutcome outcome = platform::runProcess({"gzip", "-9", file.string()});
        ASSERT_TRUE(outcome.succeeded()) << outcome.errors;
    }
    // A guard that has learned the log: first run done, the log holding one line.
    Follower learned() {
        append(otherLine());
        Follower guard(m_log, m_position);
        EXPECT_TRUE(guard.pass().size() == 0);
        EXPECT_GT(guard.mark, 0);
        return guard;
    }
    // The same in a folder emptied first, for each case of a table.
    Follower learnedAfresh() {
        std::filesystem::remove_all(m_folder.path());
        std::filesystem::create_directories(m_position.parent_path());
        return learned();
    }

    TempFolder m_folder;
    std::filesystem::path m_log = m_folder / "xrdp-sesman.log";
    std::filesystem::path m_position = m_folder / "state" / "xrdp-sesman.log.position";

    void SetUp() override { std::filesystem::create_directories(m_position.parent_path()); }
};

TEST_F(XrdpLogSourceTest, FirstRunReadsTheLogAndLearnsItsEndEvenAfterOtherLines) {
    append(authfail("203.0.113.1") + authfail("::ffff:203.0.113.2") + otherLine());
    Follower guard(m_log, m_position);
    EXPECT_EQ(guard.pass(false), (std::vector<std::string>{"203.0.113.1", "203.0.113.2"}));
    guard.pass();
    EXPECT_EQ(guard.mark, static_cast<std::int64_t>(std::filesystem::file_size(m_log)));
    EXPECT_TRUE(guard.pass().empty()) << "nothing new";
    append(otherLine() + authfail("2001:db8::7") + otherLine());
    EXPECT_EQ(guard.pass(), (std::vector<std::string>{"2001:db8::7"}));
    EXPECT_TRUE(guard.pass().empty());
}

TEST_F(XrdpLogSourceTest, ALineStillBeingWrittenCountsOnceItIsComplete) {
    Follower guard = learned();
    const std::string line = authfail("203.0.113.3");
    append(line.substr(0, 40));
    EXPECT_TRUE(guard.pass().empty());
    append(line.substr(40, line.size() - 41));
    EXPECT_TRUE(guard.pass().empty()) << "all but the newline";
    append("\n");
    EXPECT_EQ(guard.pass(), (std::vector<std::string>{"203.0.113.3"}));
    EXPECT_TRUE(guard.pass().empty());
}

TEST_F(XrdpLogSourceTest, ALineOverTheLimitIsSkippedAndCounted) {
    append(otherLine());
    Follower guard(m_log, m_position, 200);
    guard.pass();
    append("[20261210-21:04:35] [INFO ] AUTHFAIL: user=" + std::string(500, 'x') + " ip=203.0.113.4 time=1\n" +
           authfail("203.0.113.5") + "[20261210-21:04:35] [INFO ] AUTHFAIL: user=bob ip=nonsense time=1\n");
    EXPECT_EQ(guard.pass(), (std::vector<std::string>{"203.0.113.5"}));
    EXPECT_EQ(guard.skipped(), 2u) << "the long line and the AUTHFAIL line without an address";
}

// Each step appends lines, some read before the rotation and some after; every AUTHFAIL line
// must be counted exactly once, whether the pass that read it stored or not.
struct RotationCase {
    const char* name;
    bool rename;          // else copytruncate
    bool failedPassFirst; // a pass reads the lines written before the rotation but stores nothing
    bool restart;         // the guard restarts between the rotation and the next pass
    bool writesAfterRename;
};

TEST_F(XrdpLogSourceTest, RotationsCountEveryFailedLogonOnce) {
    const RotationCase cases[] = {
        {"copytruncate between passes", false, false, false, false},
        {"copytruncate during a pass", false, true, false, false},
        {"copytruncate, then a restart", false, false, true, false},
        {"rename between passes", true, false, false, false},
        {"rename during a pass", true, true, false, false},
        {"rename, then a restart", true, true, true, false},
        {"rename while the writer still writes the old file", true, false, false, true},
    };
    int round = 0;
    for (const RotationCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = "203.0.113." + std::to_string(++round); // p + "1" is 203.0.113.11, ...
        Follower guard = learnedAfresh();
        append(authfail(p + "1"));
        guard.pass();
        append(authfail(p + "2") + otherLine());
        if (c.failedPassFirst) {
            EXPECT_EQ(guard.pass(false), (std::vector<std::string>{p + "2"}));
        }
        if (c.rename)
            renameAway();
        else
            copyTruncate();
        if (c.writesAfterRename)
            append(m_folder / "xrdp-sesman.log.1", authfail(p + "3"));
        append(authfail(p + "4"));
        if (c.restart)
            guard.restart();
        guard.pass();
        append(authfail(p + "5"));
        guard.pass();
        guard.restart();
        append(authfail(p + "6"));
        guard.pass();
        EXPECT_TRUE(guard.pass().empty());
        std::map<std::string, int> expected{{p + "1", 1}, {p + "2", 1}, {p + "4", 1}, {p + "5", 1}, {p + "6", 1}};
        if (c.writesAfterRename)
            expected[p + "3"] = 1;
        EXPECT_EQ(guard.counted, expected);
    }
}

TEST_F(XrdpLogSourceTest, TwoRotationsBetweenPassesAndALogCutAndWrittenPastWhereItWas) {
    Follower guard = learned();
    append(authfail("198.51.100.1"));
    copyTruncate("xrdp-sesman.log.2");
    renameAway("xrdp-sesman.log.1");
    append(authfail("198.51.100.3"));
    guard.pass();
    // Cut and written past the old end before the next look: the bytes before the end differ.
    append(std::string(300, '#') + "\n" + authfail("198.51.100.4"));
    guard.pass();
    std::filesystem::resize_file(m_log, 0);
    append(std::string(600, '#') + "\n" + authfail("198.51.100.5"));
    guard.pass();
    EXPECT_EQ(guard.counted, (std::map<std::string, int>{
                                 {"198.51.100.1", 1}, {"198.51.100.3", 1}, {"198.51.100.4", 1}, {"198.51.100.5", 1}}));
}

// logrotate's "compress" gzips the rotated copy into a new file and deletes the copy, at once or
// only after the guard has found the plain copy; the lines the guard had not read are in the
// compressed file then.
struct CompressedCase {
    const char* name;
    bool rename;          // else copytruncate
    bool failedPassFirst; // a pass finds the plain copy and reads it but stores nothing
    bool restart;         // the guard restarts before the pass after the compression
    bool damaged;         // the compressed file is cut short: its unread lines are lost
};

TEST_F(XrdpLogSourceTest, LinesUnreadAtARotationAreReadFromTheCompressedCopy) {
    const CompressedCase cases[] = {
        {"copytruncate, compressed before the next look", false, false, false, false},
        {"copytruncate, the plain copy found, then compressed", false, true, false, false},
        {"copytruncate, compressed, then a restart", false, false, true, false},
        {"renamed, compressed before the next look", true, false, false, false},
        {"renamed, the plain file found, then compressed, then a restart", true, true, true, false},
        {"a damaged compressed copy loses only its unread lines", false, false, false, true},
    };
    int round = 0;
    for (const CompressedCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string p = "198.51.100." + std::to_string(++round); // p + "1" is 198.51.100.11, ...
        Follower guard = learnedAfresh();
        append(authfail(p + "1"));
        guard.pass();
        append(authfail(p + "2") + otherLine());
        if (c.rename)
            renameAway();
        else
            copyTruncate();
        append(authfail(p + "3"));
        if (c.failedPassFirst) {
            EXPECT_EQ(guard.pass(false), (std::vector<std::string>{p + "2", p + "3"}));
        }
        gzip(m_folder / "xrdp-sesman.log.1");
        if (c.damaged)
            std::filesystem::resize_file(m_folder / "xrdp-sesman.log.1.gz",
                                         std::filesystem::file_size(m_folder / "xrdp-sesman.log.1.gz") - 8);
        if (c.restart)
            guard.restart();
        guard.pass();
        append(authfail(p + "4"));
        guard.pass();
        EXPECT_TRUE(guard.pass().empty());
        std::map<std::string, int> expected{{p + "1", 1}, {p + "3", 1}, {p + "4", 1}};
        if (!c.damaged)
            expected[p + "2"] = 1;
        EXPECT_EQ(guard.counted, expected);
    }
}

// Debian's own rotation of the xrdp logs (copytruncate and compress), run by logrotate itself,
// between two looks of the guard and again with older compressed copies beside the log.
TEST_F(XrdpLogSourceTest, DebiansLogrotateSetUpLosesNoLine) {
    const std::string logrotate = platform::findProgram("logrotate", std::getenv("PATH") ? std::getenv("PATH") : "");
    if (!std::filesystem::exists(logrotate))
        GTEST_SKIP() << "logrotate is not installed";
    const std::filesystem::path config = m_folder / "state" / "xrdp.logrotate";
    {
        std::ofstream out(config);
        out << m_log.string() << " {\n    compress\n    missingok\n    notifempty\n    copytruncate\n    rotate 4\n}\n";
    }
    const auto rotate = [&] {
        const platform::ProcessOutcome outcome = platform::runProcess(
            {logrotate, "--force", "--state", (m_folder / "state" / "logrotate.status").string(), config.string()});
        ASSERT_TRUE(outcome.succeeded()) << outcome.errors;
        ASSERT_TRUE(std::filesystem::exists(m_folder / "xrdp-sesman.log.1.gz"));
    };
    Follower guard = learned();
    std::map<std::string, int> expected;
    for (int week = 1; week <= 3; ++week) {
        SCOPED_TRACE("rotation " + std::to_string(week));
        const std::string p = "203.0.113." + std::to_string(week); // p + "1" is 203.0.113.11, ...
        append(authfail(p + "1"));
        guard.pass();
        append(authfail(p + "2") + otherLine());
        rotate();
        append(authfail(p + "3"));
        guard.pass();
        for (const char* last : {"1", "2", "3"})
            expected[p + last] = 1;
        EXPECT_EQ(guard.counted, expected);
    }
}

TEST_F(XrdpLogSourceTest, AMarkThisLogNeverGaveLearnsWhereTheLogStands) {
    append(authfail("198.51.100.21") + otherLine());
    Follower guard(m_log, m_position);
    guard.mark = 987654321; // another source's mark, or a position file that is gone
    EXPECT_TRUE(guard.pass().empty()) << "what the log held is history";
    append(authfail("198.51.100.22"));
    EXPECT_EQ(guard.pass(), (std::vector<std::string>{"198.51.100.22"}));
    EXPECT_GT(guard.mark, 987654321);
}

// Guards of one machine share their numbering of the log, so one goes on where another left off.
// The file lies in a folder every user may write to: one another user owns is not taken for it.
TEST_F(XrdpLogSourceTest, ASharedNumberingCarriesOnUnlessAnotherUserOwnsIt) {
    const std::filesystem::path shared = m_folder / "shared.position";
    append(otherLine());
    XrdpLogSource first(m_log, m_position);
    first.sharePositionAt(shared);
    const std::int64_t mark = first.recordsAbove(0).front().RecordNumber; // a first run
    append(authfail("198.51.100.41"));

    XrdpLogSource second(m_log, m_folder / "second.position");
    second.sharePositionAt(shared);
    const std::vector<platform::EventRecord> carried = second.recordsAbove(mark);
    ASSERT_EQ(carried.size(), 1u) << "the first one's mark, in the shared numbers";
    EXPECT_EQ(carried.front().InsertionStrings, std::vector<std::string>{"198.51.100.41"});

    if (::chown(shared.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "only root can give the file to another user";
    append(authfail("198.51.100.42"));
    XrdpLogSource third(m_log, m_folder / "third.position");
    third.sharePositionAt(shared);
    EXPECT_TRUE(third.recordsAbove(carried.front().RecordNumber).empty())
        << "with no numbering it trusts, it learns where the log stands";
}

TEST_F(XrdpLogSourceTest, NoLogYetIsNoRecord) {
    Follower guard(m_log, m_position);
    EXPECT_TRUE(guard.pass().empty());
    append(authfail("198.51.100.31"));
    EXPECT_EQ(guard.pass(false), (std::vector<std::string>{"198.51.100.31"})) << "a first run";
}

} // namespace
} // namespace ostrel::test
