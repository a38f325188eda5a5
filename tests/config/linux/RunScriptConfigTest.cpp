// The Config.ini that scripts/run writes for a first trial, read back by the configuration load.
#include "config/ConfigurationLoad.h"
#include "config/IniFile.h"
#include "platform/linux/ChildProcess.h"
#include "settings/Settings.h"
#include "support/RecordingOperator.h"
#include "support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

// The report's address is empty in a fresh set-up: were the report on, every block of the
// trial would end in a failed request and its two error lines.
TEST(RunScriptConfig, TheCreatedConfigurationHasTheReportOff) {
    TempFolder folder;
    const std::filesystem::path config = folder / "Config.ini";
    const platform::ProcessOutcome outcome =
        platform::runProcess({"bash", "-c", "source \"$0\" && ostrel_write_run_config \"$1\" 3306",
                              std::string(OSTREL_SOURCE_DIR) + "/scripts/lib/local.sh", config.string()});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.errors;

    Settings settings;
    IniFile ini(config);
    RecordingOperator op;
    ConfigurationLoad load(settings, ini, op, folder / "Eventlog", [] {});
    load.OstrelKonfigurieren();

    EXPECT_FALSE(load.ConfigError()) << "the local database's values are complete";
    const SettingsValues values = settings.snapshot();
    EXPECT_FALSE(values.Report);
    EXPECT_EQ(values.SQLServer, "localhost") << "through the socket, which a network namespace reaches too";
    EXPECT_EQ(values.SQLPort, "3306");
    EXPECT_EQ(values.AbuseReportRDPURL, "");
}

} // namespace
} // namespace ostrel::test
