#include "platform/ChannelTestSupport.h"
#include "platform/EventSource.h"
#include "platform/portable/ChannelFileSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace ostrel::test {
namespace {

using platform::ChannelFileSource;

const std::string ToolPath = OSTREL_TOOLS_DIR "/ostrel-eventlog-append";

// Starts a program with its standard output and error going to the given file; returns its process id.
pid_t spawn(const std::string& program, std::vector<std::string> argv, const std::filesystem::path& output) {
    std::vector<char*> pointers;
    for (auto& text : argv)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = -1;
    const int error = posix_spawn(&child, program.c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
    return child;
}

pid_t startTool(std::vector<std::string> arguments, const std::filesystem::path& output) {
    if (!std::filesystem::exists(ToolPath))
        throw std::runtime_error(ToolPath + " is missing: build the target ostrel-eventlog-append");
    arguments.insert(arguments.begin(), ToolPath);
    return spawn(ToolPath, std::move(arguments), output);
}

int exitCodeOf(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ToolRun {
    int exitCode;
    std::string output;
};

class EventlogAppendToolTest : public ::testing::Test {
protected:
    ToolRun run(std::vector<std::string> arguments) {
        const auto output = m_folder.path() / "output.txt";
        const int exitCode = exitCodeOf(startTool(arguments, output));
        return {exitCode, fileText(output)};
    }
    std::string channel() const { return m_folder.path() / "Eventlog"; }

    TempFolder m_folder;
};

TEST_F(EventlogAppendToolTest, AppendsTheRecordsItIsToldTo) {
    struct Case {
        std::vector<std::string> arguments;
        std::string expected; // the records appended by this call, newest first
    };
    const std::vector<Case> cases = {
        {{"203.0.113.5"}, "1 D=null S=[203.0.113.5]"},
        {{"203.0.113.6", "2001:db8::6", "--count", "2"},
         "5 D=null S=[2001:db8::6]; 4 D=null S=[203.0.113.6]; 3 D=null S=[2001:db8::6]; 2 D=null S=[203.0.113.6]"},
        {{"--strings", "user,DOMAIN", "198.51.100.7"}, "6 D=null S=[user|DOMAIN|198.51.100.7]"},
        {{"--strings", "only,these"}, "7 D=null S=[only|these]"},
        {{"--no-strings", "--data", "12", "--data", "198.51.100.8"}, "8 D=[12|198.51.100.8] S=null"},
        {{"--no-strings"}, "9 D=null S=null"},
    };
    std::int64_t seen = 0;
    ChannelFileSource source(channel());
    for (const auto& c : cases) {
        auto arguments = c.arguments;
        arguments.insert(arguments.begin(), {"--folder", channel()});
        const auto result = run(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.output;
        const auto records = source.recordsAbove(seen);
        EXPECT_EQ(describeRecords(records), c.expected) << result.output;
        if (!records.empty())
            seen = records.front().RecordNumber;
    }
    expectConsecutiveLines(channel(), 9);
}

TEST_F(EventlogAppendToolTest, WritesTheChannelAndEventCodeItIsGiven) {
    ASSERT_EQ(
        run({"--folder", channel(), "--channel", "Security/Audit", "--event-code", "4625", "203.0.113.9"}).exitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(m_folder.path() / "Eventlog" / "Security%4Audit.jsonl"));
    ChannelFileSource failedLogons(channel(), "Security/Audit");
    EXPECT_TRUE(failedLogons.recordsAbove(0).empty());
    ChannelFileSource securityAudit(channel(), "Security/Audit", 4625);
    EXPECT_EQ(describeRecords(securityAudit.recordsAbove(0)), "1 D=null S=[203.0.113.9]");
}

TEST_F(EventlogAppendToolTest, DefaultsToTheEventlogFolderOfTheWorkingFolder) {
    const auto output = m_folder.path() / "output.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, m_folder.path().c_str());
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string tool = ToolPath, address = "203.0.113.10";
    char* argv[] = {tool.data(), address.data(), nullptr};
    pid_t child = -1;
    ASSERT_EQ(posix_spawn(&child, tool.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(exitCodeOf(child), 0) << fileText(output);
    EXPECT_EQ(describeRecords(ChannelFileSource(channel()).recordsAbove(0)), "1 D=null S=[203.0.113.10]");
}

TEST_F(EventlogAppendToolTest, RefusesWrongUseWithItsUsage) {
    const std::vector<std::vector<std::string>> cases = {
        {"--count", "0", "203.0.113.1"}, {"--count", "many", "203.0.113.1"}, {"--event-code"}, {"--frobnicate"},
        {"--no-strings", "203.0.113.1"}, {"--no-strings", "--strings", "a"},
    };
    for (const auto& arguments : cases) {
        auto withFolder = arguments;
        withFolder.insert(withFolder.begin(), {"--folder", channel()});
        const auto result = run(withFolder);
        EXPECT_EQ(result.exitCode, 2) << arguments.front() << ": " << result.output;
        EXPECT_NE(result.output.find("Usage: ostrel-eventlog-append"), std::string::npos) << arguments.front();
    }
    EXPECT_FALSE(std::filesystem::exists(channel()));

    const auto help = run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Usage: ostrel-eventlog-append"), std::string::npos);
}

TEST_F(EventlogAppendToolTest, ReportsAChannelThatCannotBeWritten) {
    const auto regularFile = writeFile(m_folder / "plain", "x");
    const auto result = run({"--folder", (regularFile / "Eventlog").string(), "203.0.113.1"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find("Eventlog"), std::string::npos) << result.output;
}

// Windows record numbers are 64-bit: numbering goes on past 32 bits, and stops with an error
// (the file untouched) where it would pass the largest 64-bit number and start again below 0.
TEST_F(EventlogAppendToolTest, NumbersGoOnPast32BitsAndNeverWrapAt64Bits) {
    struct Case {
        const char* name;
        std::string lastNumber;
        std::vector<std::string> arguments;
        int exitCode;
        std::string appended; // newest first
    };
    const std::vector<Case> cases = {
        {"past 32 bits",
         "2147483647",
         {"203.0.113.1", "203.0.113.2"},
         0,
         "2147483649 D=null S=[203.0.113.2]; 2147483648 D=null S=[203.0.113.1]"},
        {"up to the largest number",
         "9223372036854775805",
         {"203.0.113.3", "--count", "2"},
         0,
         "9223372036854775807 D=null S=[203.0.113.3]; 9223372036854775806 D=null S=[203.0.113.3]"},
        {"one past the largest number", "9223372036854775806", {"203.0.113.4", "203.0.113.5"}, 1, ""},
        {"at the largest number", "9223372036854775807", {"203.0.113.6"}, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = ChannelFileSource::fileFor(channel(), platform::RdpChannel);
        const std::string before = R"({"RecordNumber":)" + c.lastNumber +
                                   R"(,"EventCode":140,"Data":null,"InsertionStrings":["198.51.100.1"]})" + "\n";
        writeFile(file, before);
        auto arguments = c.arguments;
        arguments.insert(arguments.begin(), {"--folder", channel()});
        const auto result = run(arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
        ChannelFileSource source(channel());
        EXPECT_EQ(describeRecords(source.recordsAbove(std::stoll(c.lastNumber))), c.appended);
        if (c.exitCode != 0) {
            EXPECT_EQ(fileText(file), before) << "a refused append leaves the file as it was";
            EXPECT_NE(result.output.find("9223372036854775807"), std::string::npos) << result.output;
        }
    }
}

// Several shells each run the tool again and again, so that many processes contend for the file.
TEST_F(EventlogAppendToolTest, ProcessesAppendingAtOnceNeitherTearLinesNorRepeatNumbers) {
    constexpr int Shells = 4;
    constexpr int RunsEach = 15;
    constexpr int RecordsPerRun = 3 * 2;
    const std::string loop = "i=0; while [ $i -lt " + std::to_string(RunsEach) +
                             " ]; do \"$0\" --folder \"$1\" --count 3 \"$2\" \"$3\" || exit 1; i=$((i+1)); done";
    std::vector<pid_t> shells;
    for (int s = 0; s < Shells; ++s) {
        std::vector<std::string> argv = {
            "sh", "-c", loop, ToolPath, channel(), "203.0.113." + std::to_string(s), "2001:db8::" + std::to_string(s)};
        shells.push_back(spawn("/bin/sh", argv, m_folder.path() / ("output" + std::to_string(s) + ".txt")));
    }
    for (pid_t shell : shells)
        EXPECT_EQ(exitCodeOf(shell), 0);
    expectConsecutiveLines(channel(), Shells * RunsEach * RecordsPerRun);
}

} // namespace
} // namespace ostrel::test
