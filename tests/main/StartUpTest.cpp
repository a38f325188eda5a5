#include "WindowRig.h"
#include "config/ConfigurationLoad.h"
#include "config/qt/Tconfig_f.h"
#include "platform/EventSource.h"
#include "platform/portable/ChannelFileSource.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using StartUpStarted = StartedWindowTest;

const QString Loading = " - Loading config ... ";
const QString RegistryOk = " - Registry OK.";
const QString Loaded = " - Config loaded.";
const QString Rule = ConfigurationLoad::BannerRule;
const QString Beta = ConfigurationLoad::BannerBeta;

// The start-up's line after the banner: where the window reads failed logons. The good
// configuration names the rig's channel file.
QString sourceLine(const WindowRig& rig) {
    return QString::fromStdString(
        " - Failed logons are read from the channel file " +
        platform::ChannelFileSource::fileFor(rig.eventFolder(), platform::RdpChannel).string() + ".");
}

// The same line for a configuration that names no source: the platform's own.
QString defaultSourceLine(const WindowRig& rig) {
#ifdef _WIN32
    (void)rig;
    return " - Failed logons are read from the Windows event log, channel "
           "Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/Operational.";
#else
    return sourceLine(rig);
#endif
}

TEST(StartUp, WithoutFileWritesPlaceholdersAndShowsTheDialog) {
    WindowRig rig;
    TestWindow& window = rig.start();

    EXPECT_TRUE(window.ConfigError());
    EXPECT_TRUE(window.config_f().isVisible()) << "the dialog opens over the window";
    EXPECT_EQ(logMessages(window), (QStringList{Loading, RegistryOk, Loaded, Rule, Beta, defaultSourceLine(rig)}));
    // The banner lines carry no date and time; the others do.
    const QStringList raw = paneLines(window.Log->toPlainText(), false);
    EXPECT_EQ(raw[3], Rule);
    EXPECT_NE(raw[0], Loading);
    EXPECT_EQ(rig.readConfig(), "[RDPOstrel]\r\nSQLServer=SQL SERVER\r\nSQLPort=3306\r\n"
                                "SQLDatabase=SQL DATENBANK\r\nSQLUsername=SQL USERNAME\r\n"
                                "SQLPasswort=DB GEHEIMNIS\r\n\r\n");
    EXPECT_EQ(window.config_f().ConfServer->text(), "");
    EXPECT_EQ(window.config_f().ConfServerPort->text(), "0");
    EXPECT_EQ(window.config_f().Blocktime->text(), "120");
    EXPECT_TRUE(window.shown.empty());
}

TEST(StartUp, WithPlaceholdersTheConnectionFails) {
    WindowRig rig;
    rig.start();
    rig.finish();

    TestWindow& window = rig.start();
    EXPECT_TRUE(window.ConfigError());
    EXPECT_FALSE(window.config_f().isVisible());
    EXPECT_EQ(logMessages(window), (QStringList{Loading, RegistryOk, Loaded, " - Database connection FAILED!.", Rule,
                                                Beta, defaultSourceLine(rig)}));
    EXPECT_EQ(window.config_f().ConfServer->text(), "SQL SERVER");
}

TEST_F(StartUpStarted, WithAGoodConfigurationTheConnectionIsEstablished) {
    TestWindow& window = start();

    EXPECT_FALSE(window.ConfigError());
    EXPECT_FALSE(window.config_f().isVisible());
    EXPECT_EQ(logMessages(window), (QStringList{Loading, RegistryOk, Loaded, " - Database connection established.",
                                                Rule, Beta, sourceLine(rig())}));
    EXPECT_EQ(window.config_f().tbl_prefix->text().toStdString(), tables().prefix());
}

// After a reboot the firewall holds nothing: start-up puts every active block's rule back.
TEST(StartUp, WithAGoodConfigurationTheFirewallGetsTheActiveBlocksBack) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    const std::pair<const char*, const char*> blocks[] = {
        {"203.0.113.7", "DATE_ADD(NOW(), INTERVAL 1 HOUR)"},
        {"203.0.113.8", "DATE_SUB(NOW(), INTERVAL 1 MINUTE)"}, // ended: the next release's to handle
    };
    for (const auto& [address, revoke] : blocks)
        tables.exec("INSERT INTO " + tables.firewall() +
                    " (`Timestamp`, `revoke`, `IP`, `Reason`, `Command`, `RQ`) VALUES (NOW(), " + revoke + ", \"" +
                    address + "\", 'r', 'c', 'RDP-Block')");
    WindowRig rig;
    rig.writeConfig(goodConfig(tables));
    TestWindow& window = rig.start();

    EXPECT_EQ(rig.recorder.changes(),
              (std::vector<RecordingFirewallCommand::Change>{{true, "Autoblock_203.0.113.7", "203.0.113.7"}}));
    EXPECT_EQ(logMessages(window),
              (QStringList{Loading, RegistryOk, Loaded, " - Database connection established.", Rule, Beta,
                           sourceLine(rig), " - Firewall rule restored for IP 203.0.113.7"}));
    EXPECT_TRUE(window.shown.empty());
}

TEST(StartUp, PortZeroIsAMissingValue) {
    WindowRig rig;
    rig.writeConfig({"SQLServer=db.invalid", "SQLPort=0", "SQLDatabase=d", "SQLUsername=u", "SQLPasswort=p"});
    TestWindow& window = rig.start();

    EXPECT_TRUE(window.ConfigError());
    EXPECT_TRUE(window.config_f().isVisible());
    EXPECT_EQ(window.config_f().ConfServerPort->text(), "0");
    EXPECT_NE(rig.readConfig().find("SQLPort=3306\r\n"), std::string::npos);
    EXPECT_EQ(logMessages(window), (QStringList{Loading, RegistryOk, Loaded, Rule, Beta, defaultSourceLine(rig)}));
}

TEST(StartUp, AnEmptyPortStopsTheStartUpWithTheErrorReport) {
    WindowRig rig;
    rig.writeConfig({"SQLServer=db.invalid", "SQLPort=", "SQLDatabase=d", "SQLUsername=u", "SQLPasswort=p",
                     "BlockInvalidUser=FALSE", "LastRecord=99"});
    TestWindow& window = rig.start();

    ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(window.shown[0].text, "'' ist kein gültiger Integerwert (SQLPort takes a whole number from 0 to 65535)");
    EXPECT_EQ(logMessages(window), QStringList{Loading}) << "no connection attempt and no banner";
    EXPECT_FALSE(window.ConfigError());
    // The keys after the port are read all the same, so that a Save of the mended port cannot
    // write the old values of their fields over the file's.
    EXPECT_FALSE(window.config_f().BlockInvalidUser->isChecked()) << "the file's value";
    EXPECT_EQ(window.config_f().ConfServer->text(), "db.invalid") << "the earlier steps did";
    EXPECT_TRUE(window.isVisible()) << "the window opens and works all the same";
}

TEST(StartUp, ABlockTimeOutOfRangeIsReportedWithItsKeyAndNeverLoaded) {
    WindowRig rig;
    rig.writeConfig({"SQLServer=db.invalid", "SQLPort=3307", "SQLDatabase=d", "SQLUsername=u", "SQLPasswort=p",
                     "BlockInvalidUserInterval=-3"});
    TestWindow& window = rig.start();

    ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});
    EXPECT_EQ(window.shown[0].text,
              "'-3' is out of range (BlockInvalidUserInterval takes a whole number from 0 to 1440)");
    EXPECT_EQ(window.config_f().Blocktime->text(), "120") << "the field keeps what it held";
    EXPECT_FALSE(logMessages(window).contains(" - Config loaded."));
}

} // namespace
} // namespace ostrel::test
