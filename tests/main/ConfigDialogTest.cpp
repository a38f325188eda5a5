#include "WindowRig.h"
#include "config/qt/Tconfig_f.h"
#include "support/HttpTestServer.h"
#include "widgets/UpDown.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

using ConfigDialogStarted = StartedWindowTest;

// The next widget that the Tab key reaches after `from`.
QWidget* nextTabStop(QWidget* from) {
    for (QWidget* next = from->nextInFocusChain(); next && next != from; next = next->nextInFocusChain())
        if ((next->focusPolicy() & Qt::TabFocus) && next->isEnabled() && next->isVisibleTo(next->window()))
            return next;
    return nullptr;
}

std::vector<std::string> configLines(const std::string& file) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < file.size()) {
        const std::size_t end = file.find("\r\n", start);
        lines.push_back(file.substr(start, end - start));
        start = end == std::string::npos ? file.size() : end + 2;
    }
    return lines;
}

TEST(ConfigDialog, FieldsLabelsAndGroups) {
    WindowRig rig;
    Tconfig_f& dialog = rig.create().config_f();

    EXPECT_EQ(dialog.windowTitle(), "Configuration");
    QStringList groups;
    for (const QGroupBox* group : dialog.findChildren<QGroupBox*>())
        groups << group->title();
    EXPECT_EQ(groups, (QStringList{"MySQL Database connection", "Optional - if multiple servers use a single database",
                                   "How to handle Bad  IP's"}));
    const std::pair<const char*, const char*> labelled[] = {
        {"ConfServer", "Server"},
        {"ConfServerPort", "Port"},
        {"ConfServerDatabase", "Database"},
        {"ConfServerUser", "Username"},
        {"ConfServerPass", "Password"},
        {"tbl_prefix", "Table prefix"},
        {"tbl_history_prefix", "Table prefix (History)"},
        {"BlockInvalidUserCount", "Maximum failed attempts:"},
        {"Blocktime", "Block time in minutes"},
        {"BlocktimeHoneypot", "Block time (Honeypot)"},
        {"AbuseReportRDPURL", "AbuseScript URL"},
        {"AbuseKEY", "Abuse Block Key"},
        {"AllowList", "Allow list - never blocked (addresses and ranges)"},
    };
    for (const auto& [name, caption] : labelled) {
        auto* field = dialog.findChild<QLineEdit*>(name);
        ASSERT_NE(field, nullptr) << name;
        bool found = false;
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            found = found || (label->buddy() == field && label->text() == caption);
        EXPECT_TRUE(found) << name << " has the label " << caption;
    }
    EXPECT_EQ(dialog.BlockInvalidUser->text(), "Create firewall rules");
    EXPECT_EQ(dialog.Report->text(), "Use report-script");
    EXPECT_EQ(dialog.Button1->text(), "Save");
    EXPECT_EQ(dialog.Memo1->toPlainText(), "The history can have the same prefix in all \ninstances. See Readme.txt");
    EXPECT_TRUE(dialog.Memo1->isReadOnly());
    EXPECT_EQ(dialog.ConfServerPass->echoMode(), QLineEdit::Normal);
    const std::tuple<UpDown*, int, int, const char*> spins[] = {
        {dialog.UpDown3, 1, 50, "1"},
        {dialog.BlocktimeUpdown, 0, 1440, "120"},
        {dialog.BlocktimeHoneypotUpDown, 1, 1440, "120"},
        {dialog.UpDown1, 5, 120, "5"},
    };
    for (const auto& [spin, minimum, maximum, initial] : spins) {
        EXPECT_EQ(spin->minimum(), minimum) << spin->objectName().toStdString();
        EXPECT_EQ(spin->maximum(), maximum) << spin->objectName().toStdString();
        EXPECT_EQ(spin->associate()->text(), initial) << spin->objectName().toStdString();
    }
}

TEST(ConfigDialog, TheHiddenIntervalFieldIsOutOfSightButInTheTabOrder) {
    WindowRig rig;
    Tconfig_f& dialog = rig.create().config_f();
    dialog.showNonModal();
    pumpEvents();

    EXPECT_LT(dialog.Time->geometry().right(), 0) << "left of the dialog's left edge";
    EXPECT_EQ(nextTabStop(dialog.AbuseKEY), dialog.AllowList);
    QWidget* afterSource = nextTabStop(dialog.AllowList);
    EXPECT_TRUE(afterSource == dialog.EventSource || dialog.EventSource->isAncestorOf(afterSource));
    while (afterSource == dialog.EventSource || (afterSource && dialog.EventSource->isAncestorOf(afterSource)))
        afterSource = nextTabStop(afterSource); // the editable box's own parts
    EXPECT_EQ(afterSource, dialog.Time);
    EXPECT_EQ(nextTabStop(dialog.Time), dialog.Button1);
    dialog.Time->setText("7");
    EXPECT_EQ(rig.window().settings().get(&SettingsValues::Time), "7") << "typed blindly, it is the interval";
}

TEST(ConfigDialog, SaveWritesEveryKeyReloadsAndHides) {
    WindowRig rig;
    TestWindow& window = rig.start();
    Tconfig_f& dialog = window.config_f();
    ASSERT_TRUE(dialog.isVisible());

    dialog.ConfServer->setText("db.example");
    dialog.ConfServerPort->setText("3310");
    dialog.ConfServerDatabase->setText("guard");
    dialog.ConfServerUser->setText("watcher");
    dialog.ConfServerPass->setText("s3cret");
    dialog.tbl_prefix->setText("a_");
    dialog.tbl_history_prefix->setText("h_");
    dialog.BlockInvalidUser->setChecked(false);
    dialog.BlockInvalidUserCount->setText("3");
    dialog.Blocktime->setText("1000");
    dialog.BlocktimeHoneypot->setText("60");
    dialog.AbuseReportRDPURL->setText("http://report.example/r.php?x=1");
    dialog.AbuseKEY->setText("key");
    dialog.Report->setChecked(false);
    dialog.AllowList->setText("198.51.100.7, 2001:db8::/32");
    dialog.EventSource->setEditText("xrdp:/srv/xrdp/xrdp-sesman.log");
    EXPECT_EQ(window.settings().get(&SettingsValues::EventSource), "xrdp:/srv/xrdp/xrdp-sesman.log")
        << "in effect as typed";
    dialog.Button1Click();

    EXPECT_EQ(configLines(rig.readConfig()),
              (std::vector<std::string>{"[RDPOstrel]", "SQLServer=db.example", "SQLPort=3310", "SQLDatabase=guard",
                                        "SQLUsername=watcher", "SQLPasswort=s3cret", "SQLTBLPrefix=a_",
                                        "SQLTBLPrefixHistory=h_", "BlockInvalidUser=FALSE", "BlockInvalidUserCount=3",
                                        "BlockInvalidUserInterval=1000", "BlockHoneypotInterval=60",
                                        "AbuseReportRDPURL=http://report.example/r.php?x=1", "AbuseKEY=key",
                                        "Report=FALSE", "AllowList=198.51.100.7, 2001:db8::/32",
                                        "EventSource=xrdp:/srv/xrdp/xrdp-sesman.log", ""}));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(window.ConfigError());
    EXPECT_EQ(logMessages(window).count(" - Loading config ... "), 2) << "the load ran again";
    EXPECT_EQ(dialog.Blocktime->text(), "1000");
    EXPECT_TRUE(window.shown.empty());
}

TEST(ConfigDialog, TheAllowListCountsAsTypedAndSaveTellsItsInvalidEntries) {
    WindowRig rig;
    TestWindow& window = rig.start();
    Tconfig_f& dialog = window.config_f();

    dialog.AllowList->setText("203.0.113.0/24 gateway.example");
    EXPECT_EQ(window.settings().get(&SettingsValues::AllowList), "203.0.113.0/24 gateway.example")
        << "in effect before Save";
    EXPECT_FALSE(logMessages(window).join("\n").contains("gateway.example")) << "typing tells nothing";
    dialog.Button1Click();

    EXPECT_NE(rig.readConfig().find("AllowList=203.0.113.0/24 gateway.example\r\n"), std::string::npos);
    EXPECT_EQ(logMessages(window).count(" - AllowList: 'gateway.example' is no address or range - ignored."), 1);
    EXPECT_EQ(dialog.AllowList->text(), "203.0.113.0/24 gateway.example") << "the load read it back";
    EXPECT_FALSE(dialog.isVisible());
}

struct RefusedField {
    const char* name;
    QLineEdit* Tconfig_f::*field;
    QString text;
    std::string shown; // the message box's text
};

TEST(ConfigDialog, SaveRefusesAValueOutsideItsFieldsRangeAndWritesNothing) {
    const std::vector<RefusedField> cases = {
        {"empty port", &Tconfig_f::ConfServerPort, "",
         "\"Port\" (ConfServerPort): '' ist kein gültiger Integerwert (SQLPort takes a whole number from 0 to 65535)"},
        {"port above", &Tconfig_f::ConfServerPort, "99999",
         "\"Port\" (ConfServerPort): '99999' is out of range (SQLPort takes a whole number from 0 to 65535)"},
        {"empty threshold", &Tconfig_f::BlockInvalidUserCount, "",
         "\"Maximum failed attempts:\" (BlockInvalidUserCount): '' ist kein gültiger Integerwert "
         "(BlockInvalidUserCount takes a whole number from 1 to 50)"},
        {"negative block time", &Tconfig_f::Blocktime, "-5",
         "\"Block time in minutes\" (Blocktime): '-5' is out of range "
         "(BlockInvalidUserInterval takes a whole number from 0 to 1440)"},
        {"block time above", &Tconfig_f::Blocktime, "2000",
         "\"Block time in minutes\" (Blocktime): '2000' is out of range "
         "(BlockInvalidUserInterval takes a whole number from 0 to 1440)"},
        {"honeypot block time zero", &Tconfig_f::BlocktimeHoneypot, "0",
         "\"Block time (Honeypot)\" (BlocktimeHoneypot): '0' is out of range "
         "(BlockHoneypotInterval takes a whole number from 1 to 1440)"},
    };
    for (const RefusedField& c : cases) {
        SCOPED_TRACE(c.name);
        WindowRig rig;
        rig.writeConfig({"SQLServer=db.invalid", "SQLPort=3307", "SQLDatabase=d", "SQLUsername=u", "SQLPasswort=p"});
        TestWindow& window = rig.start();
        Tconfig_f& dialog = window.config_f();
        dialog.showNonModal();
        const std::string before = rig.readConfig();
        dialog.ConfServer->setText("typed.invalid");
        (dialog.*(c.field))->setText(c.text);
        dialog.Button1Click();

        ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});
        EXPECT_EQ(window.shown[0].text.toStdString(), c.shown);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(rig.readConfig(), before) << "Save wrote nothing";
    }
}

TEST(ConfigDialog, SaveWithAnEmptyServerWritesItsPlaceholderAndStillCloses) {
    WindowRig rig;
    TestWindow& window = rig.start();
    Tconfig_f& dialog = window.config_f();
    dialog.ConfServer->setText("");
    dialog.ConfServerPort->setText("3307");
    dialog.Button1Click();

    EXPECT_TRUE(window.ConfigError());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.ConfServer->text(), "");
    EXPECT_NE(rig.readConfig().find("SQLServer=SQL SERVER\r\n"), std::string::npos);
}

// A start-up stopped by a bad port or number: mending that one field and saving keeps every
// other key the file holds, also those the load never reached.
TEST(ConfigDialog, SaveAfterAStoppedLoadKeepsTheKeysItNeverReached) {
    const std::vector<std::string> kept = {"BlockInvalidUserCount=4",    "BlockHoneypotInterval=30",
                                           "AbuseKEY=key",               "Report=FALSE",
                                           "AllowList=198.51.100.7",     "EventSource=xrdp:/srv/xrdp/sesman.log"};
    // The port line and the interval line: one of them stops the load.
    const std::pair<const char*, const char*> stoppers[] = {{"SQLPort=", "BlockInvalidUserInterval=60"},
                                                            {"SQLPort=3307", "BlockInvalidUserInterval=-3"}};
    for (const auto& [port, interval] : stoppers) {
        SCOPED_TRACE(std::string(port) + " " + interval);
        WindowRig rig;
        std::vector<std::string> config = {"SQLServer=db.invalid", port, "SQLDatabase=d", "SQLUsername=u",
                                           "SQLPasswort=p", interval};
        config.insert(config.end(), kept.begin(), kept.end());
        rig.writeConfig(config);
        TestWindow& window = rig.start();
        ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});

        Tconfig_f& dialog = window.config_f();
        dialog.ConfServerPort->setText("3307");
        dialog.Blocktime->setText("90");
        dialog.Button1Click();

        const std::vector<std::string> lines = configLines(rig.readConfig());
        for (const std::string& line : kept)
            EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
        EXPECT_EQ(dialog.BlocktimeHoneypot->text(), "30");
    }
}

TEST(ConfigDialog, SpinButtonsStepWithinTheRangeAndTypedTextStaysUnchecked) {
    WindowRig rig;
    Tconfig_f& dialog = rig.create().config_f();
    auto* up = dialog.BlocktimeUpdown->findChild<QToolButton*>("up");
    auto* down = dialog.BlocktimeUpdown->findChild<QToolButton*>("down");
    ASSERT_TRUE(up && down);

    dialog.Blocktime->setText("999");
    up->click();
    EXPECT_EQ(dialog.Blocktime->text(), "1000") << "plain digits, no grouping";
    EXPECT_EQ(rig.window().settings().get(&SettingsValues::BlockInvalidUserInterval), "1000");

    dialog.Blocktime->setText("1440");
    up->click();
    EXPECT_EQ(dialog.Blocktime->text(), "1440");

    dialog.Blocktime->setText("zwölf");
    EXPECT_EQ(rig.window().settings().get(&SettingsValues::BlockInvalidUserInterval), "zwölf");
    down->click();
    EXPECT_EQ(dialog.Blocktime->text(), "1439") << "steps from the last valid position";

    dialog.Blocktime->setFocus();
    QKeyEvent arrowUp(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(dialog.Blocktime, &arrowUp);
    EXPECT_EQ(dialog.Blocktime->text(), "1440");
}

TEST_F(ConfigDialogStarted, AnUnsavedEditIsUsedByTheNextPass) {
    TestWindow& window = start();
    ASSERT_FALSE(window.ConfigError());

    RefusingPort refusing;
    window.Konfiguration1Click();
    window.config_f().ConfServerPort->setText(QString::number(refusing.port()));
    window.config_f().close();
    window.Button1Click();
    ASSERT_TRUE(passEnded(window));

    // The scan's error is logged, the release's error reaches the report: both connected to the typed port.
    EXPECT_TRUE(logMessages(window).filter(" EDatabaseError:").size() == 1)
        << logMessages(window).join("\n").toStdString();
    ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});
    EXPECT_NE(rig().readConfig().find("SQLPort=" + std::to_string(TestServer::get().port)), std::string::npos)
        << "the file keeps the saved port";
}

TEST(ConfigDialog, FixedSizeAndConfigurationTwiceGivesOneDialog) {
    WindowRig rig;
    TestWindow& window = rig.start();
    window.config_f().hide();

    window.Konfiguration1->trigger();
    window.Konfiguration1->trigger();
    pumpEvents();
    int shownDialogs = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && qobject_cast<Tconfig_f*>(top))
            ++shownDialogs;
    EXPECT_EQ(shownDialogs, 1);
    EXPECT_TRUE(window.config_f().isVisible());

    const QSize laidOut = window.config_f().size();
    EXPECT_GE(laidOut.width(), Tconfig_f::MinimumClientWidth);
    EXPECT_GE(laidOut.height(), Tconfig_f::MinimumClientHeight);
    for (const QSize tried : {QSize(300, 200), QSize(900, 900)}) {
        window.config_f().resize(tried);
        pumpEvents();
        EXPECT_EQ(window.config_f().size(), laidOut) << "a tool window of fixed size";
    }
}

} // namespace
} // namespace ostrel::test
