// A Config.ini the window may not read (permissions, which the test drops as an unprivileged
// user on Linux) is reported as unreadable, not as missing values.
#include "WindowRig.h"
#include "config/qt/Tconfig_f.h"
#include "support/UnprivilegedFileAccess.h"

#include <QLineEdit>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

TEST(StartUp, AnUnreadableSettingsFileIsReportedAsSuchAndSaveShowsItsFailure) {
    WindowRig rig;
    rig.writeConfig({"SQLServer=db.invalid", "SQLPort=3307", "SQLDatabase=d", "SQLUsername=u", "SQLPasswort=p"});
    const std::string before = rig.readConfig();
    std::filesystem::permissions(rig.configFile().parent_path(),
                                 std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
    std::filesystem::permissions(rig.configFile(), std::filesystem::perms::none);
    const std::string reason = "Cannot read " + rig.configFile().string() + ": Permission denied";
    {
        UnprivilegedFileAccess unprivileged;
        TestWindow& window = rig.start();
        ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});
        EXPECT_EQ(window.shown[0].text, QString::fromStdString(reason + "."));
        EXPECT_TRUE(logMessages(window).contains(" - Loading config ... "));
        EXPECT_FALSE(logMessages(window).contains(" - Config loaded."));
        EXPECT_TRUE(window.ConfigError());
        EXPECT_FALSE(window.config_f().isVisible()) << "no empty dialog as if values were missing";

        window.config_f().ConfServerPort->setText("3307");
        window.config_f().Button1Click();
        ASSERT_EQ(window.kinds().size(), 2u) << "the failed Save is shown";
        EXPECT_TRUE(window.shown[1].text.startsWith(QString::fromStdString(reason)));
        rig.destroy();
    }
    std::filesystem::permissions(rig.configFile(),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_EQ(rig.readConfig(), before);
}

} // namespace
} // namespace ostrel::test
