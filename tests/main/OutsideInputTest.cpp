// What comes from outside the program (a start-up file that does not load, event records with
// line feeds or megabytes in them) reaches the operator window without harm.
#include "WindowRig.h"
#include "platform/EventSource.h"
#include "platform/linux/FileDescriptor.h"
#include "platform/portable/ChannelFileWriter.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

namespace ostrel::test {
namespace {

std::int64_t appendFailedLogons(const WindowRig& rig, const std::vector<std::vector<std::string>>& insertionStrings) {
    std::vector<platform::NewChannelRecord> records;
    for (const auto& strings : insertionStrings)
        records.push_back({platform::FailedLogonEventCode, std::nullopt, strings});
    platform::ChannelFileWriter writer(rig.eventFolder());
    return writer.append(records) + static_cast<std::int64_t>(records.size()) - 1;
}

std::int64_t sightings(const TestTables& tables) {
    return tables.scalar("SELECT COUNT(*) AS value FROM " + tables.merkliste());
}

TEST(OutsideInput, AStartUpThatStoppedAtThePortKeepsTheSavedMark) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    WindowRig rig;
    const std::int64_t mark = appendFailedLogons(rig, {{"198.51.100.1"}, {"198.51.100.2"}});
    auto config = goodConfig(tables);
    const std::string port = config[1];
    config[1] = "SQLPort=";
    config.push_back("LastRecord=" + std::to_string(mark));
    rig.writeConfig(config);
    TestWindow& window = rig.start();
    ASSERT_EQ(window.kinds(), std::vector<std::string>{"error"});
    ASSERT_FALSE(window.ConfigError()) << "an empty port is no missing value: the buttons work";

    const std::int64_t last = appendFailedLogons(rig, {{"203.0.113.7"}, {"203.0.113.8"}});
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
    config.push_back("LastRecord=" + std::to_string(appendFailedLogons(rig, {{"198.51.100.1"}})));
    rig.writeConfig(config);
    TestWindow& window = rig.start();
    const std::string forged = "01/01/24 10:00:00 - [RDP-Block] IP 198.51.100.9 is blocked for 120 minutes!";
    const std::string huge(900 * 1024, 'x');
    const std::int64_t number = appendFailedLogons(rig, {{"bob\n" + forged, huge, "203.0.113.7"}});

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

// Makes a folder immutable (no file in it can be created, renamed or removed, not even by
// root) for its lifetime; the file system must support the flag.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const std::filesystem::path& folder)
        : m_fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        int flags = 0;
        if (!m_fd || ::ioctl(m_fd.get(), FS_IOC_GETFLAGS, &flags) != 0) {
            m_reason = std::string("cannot read the folder's flags: ") + std::strerror(errno);
            return;
        }
        m_flags = flags;
        flags |= FS_IMMUTABLE_FL;
        if (::ioctl(m_fd.get(), FS_IOC_SETFLAGS, &flags) != 0)
            m_reason = std::string("cannot make the folder immutable: ") + std::strerror(errno);
    }
    ~ImmutableFolder() {
        if (m_reason.empty())
            ::ioctl(m_fd.get(), FS_IOC_SETFLAGS, &m_flags);
    }
    ImmutableFolder(const ImmutableFolder&) = delete;
    ImmutableFolder& operator=(const ImmutableFolder&) = delete;
    // Empty when the folder is immutable now.
    const std::string& unavailable() const { return m_reason; }

private:
    platform::FileDescriptor m_fd;
    int m_flags = 0;
    std::string m_reason;
};

TEST(OutsideInput, AConfigIniThatCannotBeRewrittenStaysWholeAndTheLogSaysWhy) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    WindowRig rig;
    auto config = goodConfig(tables);
    config.push_back("LastRecord=0");
    rig.writeConfig(config);
    TestWindow& window = rig.start();
    const std::string before = rig.readConfig();
    appendFailedLogons(rig, {{"203.0.113.7"}});

    ImmutableFolder immutable(rig.configFile().parent_path());
    if (!immutable.unavailable().empty())
        GTEST_SKIP() << immutable.unavailable();
    window.Button1Click();
    ASSERT_TRUE(passEnded(window));

    EXPECT_EQ(rig.readConfig(), before);
    const QStringList told =
        logMessages(window).filter(" - Cannot write " + QString::fromStdString(rig.configFile().string()));
    ASSERT_FALSE(told.isEmpty()) << logMessages(window).join('\n').toStdString();
    EXPECT_TRUE(told[0].endsWith("; the file keeps its previous content.")) << told[0].toStdString();
}

} // namespace
} // namespace ostrel::test
