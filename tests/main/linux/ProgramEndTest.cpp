// The program as a whole: asked to stop by a signal, it ends as when its window is closed.
#include "support/TempFolder.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace ostrel::test {
namespace {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ProgramEnd, TerminationSignalSavesThePlacementAndEndsCleanly) {
    TempFolder folder;
    // Config.ini and the event channel live next to the executable: a copy of its own.
    const auto program = folder / "rdp-ostrel";
    std::filesystem::copy_file(OSTREL_PROGRAM, program);
    const auto config = folder / "Config.ini";

    // Everything the child needs is made before the fork: after it only exec may run.
    std::vector<std::string> environment{"QT_QPA_PLATFORM=offscreen"};
    for (char** entry = environ; *entry; ++entry)
        if (std::string(*entry).rfind("QT_QPA_PLATFORM=", 0) != 0)
            environment.emplace_back(*entry);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    // Its own network namespace: the program sets up its firewall table at start.
    std::vector<std::string> arguments{"unshare", "--net", program.string()};
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execvpe("unshare", argv.data(), envp.data());
        ::_exit(127);
    }
    // The start-up writes the placeholders of a missing configuration: then the window is up.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (readFile(config).find("SQLPasswort=") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(readFile(config).find("SQLPasswort="), std::string::npos) << "the program did not start";

    ASSERT_EQ(::kill(child, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string saved = readFile(config);
    EXPECT_NE(saved.find("[Layout]\r\nFormVersion=1\r\n"), std::string::npos) << saved;
}

} // namespace
} // namespace ostrel::test
