#include "platform/ChannelTestSupport.h"
#include "platform/linux/ChildProcess.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace ostrel::test {
namespace {

namespace fs = std::filesystem;
using platform::findProgram;

fs::path program(const fs::path& file, bool executable) {
    writeFile(file, "#!/bin/sh\n");
    fs::permissions(file, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
    return file;
}

TEST(FindProgramTest, LooksThroughTheSearchPathInOrder) {
    TempFolder folder;
    const fs::path first = folder / "first";
    const fs::path second = folder / "second";
    program(first / "tool", true);
    program(second / "tool", true);
    program(first / "plain", false);
    program(second / "plain", true);
    fs::create_directories(first / "folder");
    program(second / "folder", true);
    struct Case {
        std::string program;
        std::string searchPath;
        std::string found;
    };
    const Case cases[] = {
        {"tool", first.string() + ":" + second.string(), (first / "tool").string()},
        {"tool", ":" + second.string() + ":", (second / "tool").string()},
        {"plain", first.string() + ":" + second.string(), (second / "plain").string()},
        {"folder", first.string() + ":" + second.string(), (second / "folder").string()},
        {"ostrel-no-such-program", first.string(), "ostrel-no-such-program"},
        {(first / "plain").string(), second.string(), (first / "plain").string()},
        {"first/tool", folder.path().string(), "first/tool"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + " in " + c.searchPath);
        EXPECT_EQ(findProgram(c.program, c.searchPath), c.found);
    }
}

// A program of the administrator is found even where PATH names no sbin folder.
TEST(FindProgramTest, FallsBackToTheSystemFoldersOfTheAdministrator) {
    const std::string nft = findProgram("nft", "/usr/bin:/bin");
    if (nft == "nft")
        GTEST_SKIP() << "nft is not installed";
    const fs::path folder = fs::path(nft).parent_path();
    EXPECT_TRUE(folder == "/usr/local/sbin" || folder == "/usr/sbin" || folder == "/sbin") << nft;
}

} // namespace
} // namespace ostrel::test
