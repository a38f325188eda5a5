#include "platform/portable/ChannelFileSource.h"

#include "ChannelTestSupport.h"
#include "common/Errors.h"
#include "platform/EventSource.h"

#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#ifndef _WIN32
#include "platform/linux/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace ostrel::test {
namespace {

using platform::ChannelFileSource;
using platform::RdpChannel;

// A complete line of a failed-logon record with one insertion string.
std::string failedLogon(long long number, const std::string& address, int eventCode = 140) {
    return R"({"RecordNumber":)" + std::to_string(number) + R"(,"EventCode":)" + std::to_string(eventCode) +
           R"(,"TimeCreated":"2024-05-01T10:00:00Z","Data":null,"InsertionStrings":[")" + address + "\"]}\n";
}

std::string line(std::string_view json) {
    return std::string(json) + "\n";
}

std::string failedLogons(long long from, long long to) {
    std::string lines;
    for (long long number = from; number <= to; ++number)
        lines += failedLogon(number, "203.0.113." + std::to_string(number % 250));
    return lines;
}

class ChannelFileSourceTest : public ::testing::Test {
protected:
    void writeChannel(const std::string& content) { writeFile(m_folder / channelFileName(), content); }
    static std::filesystem::path channelFileName() { return ChannelFileSource::fileFor("", RdpChannel).filename(); }

    TempFolder m_folder;
    ChannelFileSource m_source{m_folder.path()};
};

struct ContentCase {
    const char* name;
    std::string content;
    std::int64_t above;
    std::string expected;
    std::size_t skipped;
};

TEST_F(ChannelFileSourceTest, ReadsTheRecordsAboveTheMarkNewestFirst) {
    const std::vector<ContentCase> cases = {
        {"empty file", "", 0, "", 0},
        {"all records above 0", failedLogons(1, 3), 0,
         "3 D=null S=[203.0.113.3]; 2 D=null S=[203.0.113.2]; 1 D=null S=[203.0.113.1]", 0},
        {"a negative mark reads all", failedLogons(1, 2), -5, "2 D=null S=[203.0.113.2]; 1 D=null S=[203.0.113.1]", 0},
        {"only those above the mark", failedLogons(1, 5), 3, "5 D=null S=[203.0.113.5]; 4 D=null S=[203.0.113.4]", 0},
        {"nothing above the newest", failedLogons(1, 5), 5, "", 0},
        {"mark above the newest", failedLogons(1, 5), 900, "", 0},
        {"other event codes are passed over",
         failedLogon(1, "203.0.113.1") + failedLogon(2, "203.0.113.2", 4625) + failedLogon(3, "203.0.113.3") +
             failedLogon(4, "203.0.113.4", 141),
         0, "3 D=null S=[203.0.113.3]; 1 D=null S=[203.0.113.1]", 0},
        {"a record of another code at the mark ends the walk",
         failedLogon(1, "203.0.113.1") + failedLogon(2, "203.0.113.2", 141) + failedLogon(3, "203.0.113.3"), 2,
         "3 D=null S=[203.0.113.3]", 0},
        {"a record without event code ends the walk but is not yielded",
         failedLogon(1, "203.0.113.1") + line(R"({"RecordNumber":2})") + failedLogon(3, "203.0.113.3"), 0,
         "3 D=null S=[203.0.113.3]; 1 D=null S=[203.0.113.1]", 0},
        {"absent arrays are null", line(R"({"RecordNumber":7,"EventCode":140})"), 0, "7 D=null S=null", 0},
        {"both arrays, strings as they are",
         line(
             R"({"RecordNumber":8,"EventCode":140,"Data":["a b","Ä"],"InsertionStrings":["user","\u0041\"\\","198.51.100.4"]})"),
         0, "8 D=[a b|Ä] S=[user|A\"\\|198.51.100.4]", 0},
        {"empty arrays stay arrays", line(R"({"RecordNumber":9,"EventCode":140,"Data":[],"InsertionStrings":[]})"), 0,
         "9 D=[] S=[]", 0},
        {"numbers and other scalars become text",
         line(
             R"({"RecordNumber":10,"EventCode":140,"Data":[0,-2,18446744073709551615,1.5,true,null],"InsertionStrings":null})"),
         0, "10 D=[0|-2|18446744073709551615|1.5|true|null] S=null", 0},
        {"nested elements become their JSON text",
         line(
             R"({"RecordNumber":11,"EventCode":140,"Data":[7,{"a":1},[2,"x"]],"InsertionStrings":[1.5,"203.0.113.9"]})"),
         0, "11 D=[7|{\"a\":1}|[2,\"x\"]] S=[1.5|203.0.113.9]", 0},
        {"unknown fields, also nested, are ignored",
         line(
             R"({"Extra":{"RecordNumber":99,"Data":[1]},"RecordNumber":12,"EventCode":140,"More":[[1],{}],"Data":null})"),
         0, "12 D=null S=null", 0},
        {"an unparsable line in the middle is skipped and counted",
         failedLogon(1, "203.0.113.1") + "not json at all\n" + failedLogon(3, "203.0.113.3"), 0,
         "3 D=null S=[203.0.113.3]; 1 D=null S=[203.0.113.1]", 1},
        {"lines that are no records are counted",
         failedLogon(1, "203.0.113.1") + line(R"({"EventCode":140,"InsertionStrings":["203.0.113.7"]})") +
             line(R"({"RecordNumber":"2","EventCode":140})") + line(R"({"RecordNumber":2.5,"EventCode":140})") +
             line(R"({"RecordNumber":9223372036854775808,"EventCode":140})") +
             line(R"({"RecordNumber":3,"EventCode":"140"})") +
             line(R"({"RecordNumber":3,"EventCode":140,"Data":"x"})") +
             line(R"({"RecordNumber":3,"EventCode":140,"InsertionStrings":{"a":"b"}})") + "[1,2]\n" + "42\n" +
             line(R"({"RecordNumber":3,"EventCode":140)"),
         0, "1 D=null S=[203.0.113.1]", 10},
        {"blank lines are no damage", "\n" + failedLogon(1, "203.0.113.1") + "\n  \n" + failedLogon(2, "203.0.113.2"),
         0, "2 D=null S=[203.0.113.2]; 1 D=null S=[203.0.113.1]", 0},
        {"lines ended by CR LF",
         R"({"RecordNumber":1,"EventCode":140,"InsertionStrings":["203.0.113.1"]})"
         "\r\n"
         R"({"RecordNumber":2,"EventCode":140,"InsertionStrings":["203.0.113.2"]})"
         "\r\n",
         0, "2 D=null S=[203.0.113.2]; 1 D=null S=[203.0.113.1]", 0},
        {"a torn last line is being written and ignored",
         failedLogons(1, 2) + R"({"RecordNumber":3,"EventCode":140,"InsertionStr)", 0,
         "2 D=null S=[203.0.113.2]; 1 D=null S=[203.0.113.1]", 0},
        {"a complete record without its line break is still being written",
         failedLogons(1, 2) + R"({"RecordNumber":3,"EventCode":140})", 0,
         "2 D=null S=[203.0.113.2]; 1 D=null S=[203.0.113.1]", 0},
        {"a file of one unfinished line", R"({"RecordNumber":1,"EventCode":140})", 0, "", 0},
        {"a channel that started again below the mark yields nothing", failedLogons(1, 10) + failedLogons(1, 3), 10, "",
         0},
        {"after a restart, only numbers past the mark are new", failedLogons(1, 10) + failedLogons(1, 12), 10,
         "12 D=null S=[203.0.113.12]; 11 D=null S=[203.0.113.11]", 0},
        {"damage below the mark is never reached", "garbage\n{broken\n" + failedLogons(1, 5), 3,
         "5 D=null S=[203.0.113.5]; 4 D=null S=[203.0.113.4]", 0},
    };
    for (const auto& c : cases) {
        writeChannel(c.content);
        EXPECT_EQ(describeRecords(m_source.recordsAbove(c.above)), c.expected) << c.name;
        EXPECT_EQ(m_source.skippedLines(), c.skipped) << c.name;
    }
}

TEST_F(ChannelFileSourceTest, TheSkipCountIsThatOfTheLastCall) {
    writeChannel(failedLogon(1, "203.0.113.1") + "oops\n" + failedLogon(3, "203.0.113.3"));
    m_source.recordsAbove(0);
    ASSERT_EQ(m_source.skippedLines(), 1u);
    m_source.recordsAbove(1);
    EXPECT_EQ(m_source.skippedLines(), 1u);
    m_source.recordsAbove(3);
    EXPECT_EQ(m_source.skippedLines(), 0u);
}

TEST_F(ChannelFileSourceTest, AChannelWithoutFileOrFolderHasNoRecords) {
    EXPECT_TRUE(m_source.recordsAbove(0).empty());
    ChannelFileSource inMissingFolder(m_folder.path() / "no" / "such" / "folder");
    EXPECT_TRUE(inMissingFolder.recordsAbove(0).empty());
}

TEST_F(ChannelFileSourceTest, AFileThatCannotBeReadRaisesTheEventSourceError) {
    struct Case {
        const char* name;
        std::filesystem::path folder;
        std::int32_t code;
    };
    std::filesystem::create_directories(m_folder.path() / "dir" / channelFileName());
    const auto regularFile = writeFile(m_folder / "plain", "x");
#ifdef _WIN32
    // The system's own codes there: ERROR_ACCESS_DENIED for a folder opened as a file, ERROR_DIRECTORY.
    constexpr std::uint32_t IsFolder = 5;
    constexpr std::uint32_t NotAFolder = 267;
#else
    constexpr std::uint32_t IsFolder = EISDIR;
    constexpr std::uint32_t NotAFolder = ENOTDIR;
#endif
    const std::vector<Case> cases = {
        {"the channel file is a folder", m_folder.path() / "dir", static_cast<std::int32_t>(0x80070000u | IsFolder)},
        {"the folder is a regular file", regularFile, static_cast<std::int32_t>(0x80070000u | NotAFolder)},
    };
    for (const auto& c : cases) {
        ChannelFileSource source(c.folder);
        try {
            source.recordsAbove(0);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const EOleException& error) {
            EXPECT_EQ(error.code(), c.code) << c.name;
            EXPECT_NE(std::string(error.what()).find(source.file().string()), std::string::npos)
                << c.name << ": " << error.what();
        }
    }
}

#ifndef _WIN32
// A FIFO would hold open() until some writer came: the call must come back at once with an
// error instead. Should it hang, the test opens the FIFO's other end to let it go and fails.
TEST_F(ChannelFileSourceTest, AnythingButARegularFileIsRefusedWithoutWaiting) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
    };
    const std::vector<Case> cases = {
        {"a FIFO", [](const std::filesystem::path& file) { ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0); }},
        {"a link to a device",
         [](const std::filesystem::path& file) { std::filesystem::create_symlink("/dev/zero", file); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const auto file = ChannelFileSource::fileFor(folder.path(), RdpChannel);
        std::filesystem::create_directories(file.parent_path());
        c.make(file);
        ChannelFileSource source(folder.path());
        auto scan = std::async(std::launch::async, [&source] { source.recordsAbove(0); });
        if (scan.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            platform::FileDescriptor writer(::open(file.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
            scan.wait();
            FAIL() << "the source waited in open()";
        }
        try {
            scan.get();
            ADD_FAILURE() << "no error";
        } catch (const EOleException& error) {
            EXPECT_NE(std::string(error.what()).find(file.string()), std::string::npos) << error.what();
            EXPECT_NE(std::string(error.what()).find("no regular file"), std::string::npos) << error.what();
        }
    }
}
#endif

#ifndef _WIN32 // symbolic links need a privilege on Windows
TEST_F(ChannelFileSourceTest, ALinkToARegularFileIsRead) {
    const auto target = writeFile(m_folder / "elsewhere.jsonl", failedLogons(1, 2));
    const auto file = ChannelFileSource::fileFor(m_folder.path(), RdpChannel);
    std::filesystem::create_symlink(target, file);
    EXPECT_EQ(describeRecords(m_source.recordsAbove(0)), "2 D=null S=[203.0.113.2]; 1 D=null S=[203.0.113.1]");
}
#endif

// A record line of exactly `bytes` bytes, its line break not counted.
std::string failedLogonOfLength(long long number, std::size_t bytes) {
    const std::string shortest = failedLogon(number, "");
    std::string text = failedLogon(number, std::string(bytes - (shortest.size() - 1), 'x'));
    text.pop_back();
    EXPECT_EQ(text.size(), bytes);
    return line(text);
}

TEST_F(ChannelFileSourceTest, LinesAboveTheLimitAreSkippedAndCounted) {
    constexpr std::size_t Limit = ChannelFileSource::MaxLineBytes;
    writeChannel(failedLogon(1, "203.0.113.1") + failedLogonOfLength(2, Limit) + failedLogonOfLength(3, Limit + 1) +
                 failedLogonOfLength(4, 3 * Limit) + failedLogon(5, "203.0.113.5"));
    const auto records = m_source.recordsAbove(0);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].RecordNumber, 5);
    EXPECT_EQ(records[1].RecordNumber, 2);
    EXPECT_EQ(records[2].RecordNumber, 1);
    EXPECT_EQ(m_source.skippedLines(), 2u);
}

TEST_F(ChannelFileSourceTest, ReadsRecordsLongerThanAReadBlock) {
    const std::string longAddress(300 * 1024, 'a');
    writeChannel(failedLogon(1, "203.0.113.1") + failedLogon(2, longAddress) + failedLogon(3, "203.0.113.3") + "{" +
                 std::string(200 * 1024, ' ') + "broken\n" + failedLogon(5, "203.0.113.5"));
    const auto records = m_source.recordsAbove(0);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].RecordNumber, 5);
    EXPECT_EQ(records[1].RecordNumber, 3);
    EXPECT_EQ(records[2].RecordNumber, 2);
    EXPECT_EQ(records[2].InsertionStrings, std::vector<std::string>{longAddress});
    EXPECT_EQ(records[3].RecordNumber, 1);
    EXPECT_EQ(m_source.skippedLines(), 1u);
}

TEST_F(ChannelFileSourceTest, ReadsManyNewRecordsOfALargeChannel) {
    writeChannel(failedLogons(1, 30000));
    const auto records = m_source.recordsAbove(10000);
    ASSERT_EQ(records.size(), 20000u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto number = static_cast<std::int64_t>(30000 - i);
        ASSERT_EQ(records[i].RecordNumber, number);
        ASSERT_EQ(records[i].InsertionStrings->back(), "203.0.113." + std::to_string(number % 250)) << number;
    }
    EXPECT_EQ(m_source.skippedLines(), 0u);
    EXPECT_EQ(m_source.recordsAbove(29990).size(), 10u);
}

} // namespace
} // namespace ostrel::test
