#include "platform/System.h"

#include "platform/ChannelTestSupport.h"
#include "platform/EventChannel.h"
#include "platform/EventSource.h"
#include "platform/InterfaceAddresses.h"
#include "platform/portable/Addresses.h"
#include "platform/portable/ChannelFileSource.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace ostrel::test {
namespace {

using platform::ChannelFileSource;

TEST(ChannelFileNameTest, WritesSlashesOfTheChannelAsPercentFour) {
    struct Case {
        std::string channel;
        std::string file;
    };
    const std::vector<Case> cases = {
        {platform::RdpChannel, "Microsoft-Windows-RemoteDesktopServices-RdpCoreTS%4Operational.jsonl"},
        {"Security", "Security.jsonl"},
        {"A/B/C", "A%4B%4C.jsonl"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChannelFileSource::fileFor("/srv/Eventlog", c.channel),
                  std::filesystem::path("/srv/Eventlog") / c.file)
            << c.channel;
    EXPECT_EQ(ChannelFileSource("/srv/Eventlog").file(),
              ChannelFileSource::fileFor("/srv/Eventlog", platform::RdpChannel));
}

TEST(ExecutableFolderTest, IsTheFolderOfTheRunningProgram) {
    const auto folder = platform::executableFolder();
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(std::filesystem::exists(folder / "test_platform")) << folder;
    EXPECT_EQ(platform::eventlogFolder(), folder / "Eventlog");
}

TEST(ProbeEventChannelTest, CreatesTheFolderAndReportsWhetherItIsWritable) {
    TempFolder scratch;
    const auto regularFile = writeFile(scratch / "plain", "x");
    struct Case {
        const char* name;
        std::filesystem::path folder;
        bool writable;
    };
    const std::vector<Case> cases = {
        {"a missing folder is created", scratch.path() / "a" / "b" / "Eventlog", true},
        {"an existing folder", scratch.path(), true},
        {"a path below a regular file", regularFile / "Eventlog", false},
        {"a regular file", regularFile, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::probeEventChannel(c.folder), c.writable) << c.name;
        if (c.writable) {
            EXPECT_TRUE(std::filesystem::is_directory(c.folder)) << c.name;
        }
    }
}

TEST(AdapterIPAddressTest, IsEmptyOrAnIPv4AddressOtherThanLoopback) {
    const std::string address = platform::AdapterIPAddress();
    if (address.empty())
        return;
    in_addr parsed{};
    ASSERT_EQ(::inet_pton(AF_INET, address.c_str(), &parsed), 1) << address;
    EXPECT_NE(address.rfind("127.", 0), 0u) << address;
}

// Runs the steps in a child process inside a network namespace of its own; each step is a shell
// command that shapes the namespace, followed by what AdapterIPAddress() must answer then.
TEST(InterfaceAddressesTest, AdapterIsTheFirstUpNonLoopbackAndOwnAddressesAreAllHeld) {
    struct Step {
        const char* command;
        const char* expected;
    };
    const std::vector<Step> steps = {
        {"ip link set lo up", ""},
        {"ip link add v0 type veth peer name v1 && ip -6 addr add 2001:db8::5/64 dev v0 && ip link set v0 up", ""},
        {"ip addr add 198.51.100.5/24 dev v1", ""},
        {"ip link set v1 up", "198.51.100.5"},
        {"ip link set v1 down && ip addr add 203.0.113.5/24 dev v0", "203.0.113.5"},
    };
    // What isOwnAddress answers in the namespace shaped by all the steps.
    const std::vector<std::pair<std::string, bool>> own = {
        {"203.0.113.5", true}, {"198.51.100.5", true}, {"2001:DB8::5", true},  {"::ffff:203.0.113.5", true},
        {"127.0.0.1", true},   {"203.0.113.6", false}, {"2001:db8::6", false}, {"not an address", false},
    };
    int answers[2];
    ASSERT_EQ(::pipe(answers), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(answers[0]);
        std::string report;
        if (::unshare(CLONE_NEWNET) != 0) {
            report = "cannot make a network namespace\n";
        } else {
            for (const auto& step : steps) {
                const std::string command = std::string(step.command) + " >/dev/null 2>&1";
                report += std::system(command.c_str()) == 0 ? platform::AdapterIPAddress() + "\n"
                                                            : std::string("failed: ") + step.command + "\n";
            }
            for (const auto& [address, expected] : own)
                if (platform::isOwnAddress(address) != expected)
                    report += "isOwnAddress(" + address + ") is not " + (expected ? "true" : "false") + "\n";
        }
        [[maybe_unused]] auto written = ::write(answers[1], report.data(), report.size());
        ::_exit(0);
    }
    ::close(answers[1]);
    std::string report;
    char buffer[512];
    for (ssize_t got; (got = ::read(answers[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, static_cast<std::size_t>(got));
    ::close(answers[0]);
    int status = 0;
    ::waitpid(child, &status, 0);

    std::string expected;
    for (const auto& step : steps)
        expected += std::string(step.expected) + "\n";
    EXPECT_EQ(report, expected);
}

} // namespace
} // namespace ostrel::test
