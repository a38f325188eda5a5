// A Config.ini that cannot be rewritten (its folder made immutable, which only Linux offers a
// test) stays whole, and the window says why.
#include "WindowRig.h"
#include "platform/linux/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

namespace ostrel::test {
namespace {

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
    rig.appendFailedLogons({{"203.0.113.7"}});

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
