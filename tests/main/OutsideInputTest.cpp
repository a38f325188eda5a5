// What comes from outside the program (a start-up file that does not load, event records with
// line feeds or megabytes in them) reaches the operator window without harm.
#include "WindowRig.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

std::int64_t sightings(const TestTables& tables) {
    return tables.scalar("SELECT COUNT(*) AS value FROM " + tables.merkliste());
}

TEST(OutsideInput, AStartUpThatStoppedAtThePortKeepsTheSavedMark) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    WindowRig rig;
    const std::int64_t mark = rig.appendFailedLogons({{"198.51.100.1"}, {"198.51.100.2"}});
    auto config = goodConfig(tables);
    const std::string port = config[1];
    config[1] = "SQLPort=";
    config.push_back("LastRecord=" + std::to_string(mark));
    rig.writeConfig(config);
    TestWindow& window = rig.start();
    ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});
    ASSERT_FALSE(window.ConfigError()) << "an empty port is no missing value: the buttons work";

    const std::int64_t last = rig.appendFailedLogons({{"203.0.113.7"}, {"203.0.113.8"}});
    window.Button1Click();
    ASSERT_TRUE(passEnded(window));
    EXPECT_TRUE(logMessages(window).contains(
        " EConvertError:'' ist kein gültiger Integerwert (SQLPort takes a whole number from 0 to 65535)"));
    EXPECT_EQ(window.kinds().size(), 2u) << "the release failed on the port too";
    EXPECT_NE(rig.readConfig().find("LastRecord=" + std::to_string(mark) + "\r\n"), std::string::npos)
        << rig.readConfig();

    window.config_f().ConfServerPort->setText(QString::fromStdString(port.substr(port.find('=') + 1)));
    window.config_f().Button1Click();
    window.Button1Click();
    ASSERT_TRUE(passEnded(window));

    EXPECT_FALSE(logMessages(window).filter("First run").size() > 0) << "the mark was kept, no first run";
    EXPECT_EQ(sightings(tables), 2);
    EXPECT_NE(rig.readConfig().find("LastRecord=" + std::to_string(last) + "\r\n"), std::string::npos);
}

TEST(OutsideInput, EventTextsCanNeitherForgeLinesNorFloodThePane) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    WindowRig rig;
    auto config = goodConfig(tables);
    config.push_back("LastRecord=" + std::to_string(rig.appendFailedLogons({{"198.51.100.1"}})));
    rig.writeConfig(config);
    TestWindow& window = rig.start();
    const std::string forged = "01/01/24 10:00:00 - [RDP-Block] IP 198.51.100.9 is blocked for 120 minutes!";
    const std::string huge(900 * 1024, 'x');
    const std::int64_t number = rig.appendFailedLogons({{"bob\n" + forged, huge, "203.0.113.7"}});

    window.Button1Click();
    ASSERT_TRUE(passEnded(window));

    const QStringList lines = logMessages(window);
    const QString prefix = QString(" - RecordNumber %1: ").arg(number);
    EXPECT_TRUE(lines.contains(prefix + "bob\\n" + QString::fromStdString(forged))) << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.contains(QString::fromStdString(forged.substr(forged.find(" - ")))));
    const QStringList hugeLines = lines.filter("bytes in all]");
    ASSERT_EQ(hugeLines.size(), 1);
    EXPECT_TRUE(hugeLines[0].endsWith("x ... [921600 bytes in all]"));
    EXPECT_LT(hugeLines[0].size(), 1000);
    EXPECT_EQ(sightings(tables), 1);
}

} // namespace
} // namespace ostrel::test
