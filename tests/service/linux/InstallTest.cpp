// `cmake --install` into a prefix of the test's own: the programs, the schema and the systemd
// unit land where GNUInstallDirs and systemd look for them, and the unit names the service there.
#include "platform/linux/ChildProcess.h"
#include "support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace ostrel::test {
namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isExecutable(const fs::path& file) {
    struct stat status {};
    return ::stat(file.c_str(), &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & S_IXOTH);
}

std::string describe(const platform::ProcessOutcome& outcome) {
    return "exit " + std::to_string(outcome.exitCode) + "\n" + outcome.output + outcome.errors;
}

class Install : public ::testing::Test {
protected:
    void SetUp() override {
        const auto outcome =
            platform::runProcess({OSTREL_CMAKE_COMMAND, "--install", OSTREL_BINARY_DIR, "--prefix", prefix().string()});
        ASSERT_TRUE(outcome.succeeded()) << describe(outcome);
    }
    const fs::path& prefix() const { return m_prefix.path(); }
    fs::path unit() const { return prefix() / "lib/systemd/system/rdp-ostrel.service"; }

    TempFolder m_prefix;
};

TEST_F(Install, PutsEveryPartInItsPlace) {
    for (const char* program : {"sbin/rdp-ostrel-service", "sbin/rdp-ostrel-ctl", "bin/ostrel-eventlog-append"})
        EXPECT_TRUE(isExecutable(prefix() / program)) << program;
    if (fs::exists(fs::path(OSTREL_BINARY_DIR) / "src/main/rdp-ostrel")) {
        EXPECT_TRUE(isExecutable(prefix() / "bin/rdp-ostrel"));
    }
    EXPECT_EQ(fileText(prefix() / "share/rdp-ostrel/schema.sql"),
              fileText(fs::path(OSTREL_SOURCE_DIR) / "sql/schema.sql"));
    EXPECT_TRUE(fs::exists(unit()));

    // The installed service runs from where it was put.
    const auto help = platform::runProcess({(prefix() / "sbin/rdp-ostrel-service").string(), "--help"});
    EXPECT_EQ(help.exitCode, 0) << describe(help);
}

TEST_F(Install, TheUnitStartsTheInstalledServiceAfterNetworkAndDatabase) {
    const std::string text = fileText(unit());
    for (const std::string& line : {
             "ExecStart=" + (prefix() / "sbin/rdp-ostrel-service").string() +
                 " --config %E/rdp-ostrel/Config.ini --eventlog %S/rdp-ostrel/Eventlog",
             std::string("Restart=on-failure"),
             std::string("Wants=network-online.target"),
             std::string("After=network-online.target mariadb.service mysql.service"),
             std::string("CapabilityBoundingSet=CAP_NET_ADMIN"),
             std::string("RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK"),
             std::string("ConfigurationDirectory=rdp-ostrel"),
             std::string("ReadWritePaths=%E/rdp-ostrel"),
             std::string("WantedBy=multi-user.target"),
         })
        EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << "\n" << text;
}

TEST_F(Install, SystemdFindsNothingWrongWithTheUnit) {
    const char* path = std::getenv("PATH");
    const std::string analyze = platform::findProgram("systemd-analyze", path ? path : "/usr/bin:/bin");
    if (analyze.find('/') == std::string::npos)
        GTEST_SKIP() << "systemd-analyze is not installed: the unit is not verified";
    const auto outcome = platform::runProcess({analyze, "verify", unit().string()});
    EXPECT_TRUE(outcome.succeeded()) << describe(outcome);
    EXPECT_EQ(outcome.errors, "") << "warnings are faults of the unit too";
}

} // namespace
} // namespace ostrel::test
