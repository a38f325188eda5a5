#include "IniTestFiles.h"
#include "config/IniFile.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include "support/linux/PrivateTmpfs.h"

#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ostrel::test {
namespace {

namespace fs = std::filesystem;

class IniFileLifecycle : public ::testing::Test {
protected:
    fs::path file() const { return m_folder / "Config.ini"; }
    TempFolder m_folder;
};

TEST_F(IniFileLifecycle, AnOutsideEditIsReadAtTheNextAccess) {
    writeBytes(file(), "[RDPOstrel]\nA=1\nB=1\n");
    IniFile ini(file());
    EXPECT_EQ(ini.ReadString("A", ""), "1");

    // Same size, so only the modification time tells.
    editOutside(file(), "[RDPOstrel]\nA=2\nB=1\n");
    EXPECT_EQ(ini.ReadString("A", ""), "2");

    // An edit within one tick of a coarse file clock leaves the time as it was; the size tells.
    const auto time = fs::last_write_time(file());
    writeBytes(file(), "[RDPOstrel]\nA=33\nB=1\n");
    fs::last_write_time(file(), time);
    EXPECT_EQ(ini.ReadString("A", ""), "33");
    EXPECT_TRUE(ini.ValueExists("B"));
}

TEST_F(IniFileLifecycle, AnUnchangedFileIsNotReadAgain) {
    writeBytes(file(), "[RDPOstrel]\nA=1\n");
    IniFile ini(file());
    EXPECT_EQ(ini.ReadString("A", ""), "1");
    const auto time = fs::last_write_time(file());
    writeBytes(file(), "[RDPOstrel]\nA=2\n");
    fs::last_write_time(file(), time);
    EXPECT_EQ(ini.ReadString("A", ""), "1") << "same time and size: memory counts";
}

TEST_F(IniFileLifecycle, AWriteAfterAnOutsideEditKeepsTheOtherEditedKeys) {
    writeBytes(file(), "[RDPOstrel]\nSQLServer=old\nAbuseKEY=old\n");
    IniFile ini(file());
    EXPECT_EQ(ini.ReadString("SQLServer", ""), "old");
    editOutside(file(), "[RDPOstrel]\nSQLServer=hand\nAbuseKEY=hand\n");
    ini.WriteString("SQLServer", "dialog");
    EXPECT_EQ(readBytes(file()), "[RDPOstrel]\r\nSQLServer=dialog\r\nAbuseKEY=hand\r\n\r\n");
}

TEST_F(IniFileLifecycle, AVanishedFileEmptiesMemory) {
    writeBytes(file(), "[RDPOstrel]\nA=1\nB=1\n");
    IniFile ini(file());
    EXPECT_EQ(ini.ReadString("A", ""), "1");
    fs::remove(file());
    EXPECT_EQ(ini.ReadString("A", "default"), "default");
    EXPECT_FALSE(ini.ValueExists("B"));
    ini.WriteString("C", "3");
    EXPECT_EQ(readBytes(file()), "[RDPOstrel]\r\nC=3\r\n\r\n");
}

TEST_F(IniFileLifecycle, TheFileIsReadBackOnceAfterARewrite) {
    IniFile ini(file());
    ini.WriteString("A", "  blanks  ");
    ini.WriteString("B", "1");
    // The first rewrite is read back at the second write, so memory holds the trimmed value.
    EXPECT_EQ(ini.ReadString("A", ""), "blanks");
    EXPECT_EQ(readBytes(file()), "[RDPOstrel]\r\nA=blanks\r\nB=1\r\n\r\n");
}

TEST_F(IniFileLifecycle, AReadOnlyFileSkipsWritesAndKeepsReading) {
    const std::string content = "; kept while read-only\n[RDPOstrel]\nA=1\n";
    writeBytes(file(), content);
    fs::permissions(file(), fs::perms::owner_read | fs::perms::group_read);
    {
        IniFile ini(file());
        EXPECT_NO_THROW(ini.WriteString("A", "2"));
        EXPECT_NO_THROW(ini.WriteInteger("B", 3));
        ini.BeginUpdate();
        ini.WriteBoolean("C", true);
        ini.EndUpdate();
        ini.UpdateFile();
        EXPECT_EQ(ini.ReadString("A", ""), "1");
        EXPECT_FALSE(ini.ValueExists("B"));
        EXPECT_EQ(readBytes(file()), content);
    }
    EXPECT_EQ(readBytes(file()), content) << "the final rewrite must be skipped too";

    fs::permissions(file(), fs::perms::owner_write, fs::perm_options::add);
    IniFile ini(file());
    ini.WriteString("A", "2");
    EXPECT_EQ(readBytes(file()), "[RDPOstrel]\r\nA=2\r\n\r\n");
}

TEST_F(IniFileLifecycle, AMissingFolderIsCreated) {
    const fs::path nested = m_folder.path() / "a" / "b" / "Config.ini";
    IniFile ini(nested);
    ini.WriteString("Layout\\Left", "10");
    EXPECT_EQ(readBytes(nested), "[Layout]\r\nLeft=10\r\n\r\n");
}

TEST_F(IniFileLifecycle, AFailedRewriteIsNotReported) {
    // A regular file where the folder should be: neither the folder nor the file can be made.
    writeBytes(m_folder / "blocked", "");
    IniFile ini(m_folder / "blocked" / "Config.ini");
    EXPECT_NO_THROW(ini.WriteString("A", "1"));
    EXPECT_NO_THROW(ini.UpdateFile());
    EXPECT_EQ(ini.ReadString("A", "default"), "default");
}

TEST_F(IniFileLifecycle, AFailedRewriteIsToldToTheHandler) {
    writeBytes(m_folder / "blocked", "");
    IniFile ini(m_folder / "blocked" / "Config.ini");
    std::vector<std::string> told;
    ini.setWriteFailureHandler([&](const std::string& message) { told.push_back(message); });
    ini.WriteString("A", "1");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find((m_folder / "blocked" / "Config.ini").string()), std::string::npos) << told[0];
    EXPECT_NE(told[0].find("keeps its previous content"), std::string::npos) << told[0];
}

#ifndef _WIN32
// Each pass rewrites Config.ini. Rewritten in place, a full disk cut it at the last block that
// fitted and took the database settings with it.
TEST_F(IniFileLifecycle, AFullFileSystemLeavesTheOldFileWholeAndTellsWhy) {
    const fs::path mounted = m_folder / "small";
    fs::create_directory(mounted);
    std::string before;
    std::vector<std::string> told;
    const auto unavailable = runOnPrivateTmpfs(mounted, 64 * 1024, [&] {
        const fs::path file = mounted / "Config.ini";
        IniFile ini(file);
        ini.setWriteFailureHandler([&](const std::string& message) { told.push_back(message); });
        ini.WriteString("SQLServer", "db.example");
        ini.WriteString("Padding", std::string(3000, 'p'));
        before = readBytes(file);
        fillFileSystem(mounted);

        ini.WriteString("Padding", std::string(6000, 'q'));

        EXPECT_EQ(readBytes(file), before) << "the old file stays whole";
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(mounted))
            left.push_back(entry.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"Config.ini", "filler"})) << "no half-written file is left";

        // Room again: the next write goes through.
        fs::remove(mounted / "filler");
        ini.WriteString("LastRecord", "7");
        IniFile reread(file);
        EXPECT_EQ(reread.ReadString("Padding", ""), std::string(6000, 'q'));
        EXPECT_EQ(reread.ReadString("SQLServer", ""), "db.example");
    });
    if (unavailable)
        GTEST_SKIP() << *unavailable;
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("No space left on device"), std::string::npos) << told[0];
}
#endif

#ifndef _WIN32
TEST_F(IniFileLifecycle, ARewriteKeepsALinkAndTheOwnerAndLeavesNoOtherFile) {
    const fs::path target = m_folder / "real.ini";
    writeBytes(target, "[RDPOstrel]\r\nA=1\r\n\r\n");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // Root may give the file away; a rewrite must not take it back.
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(::chown(target.c_str(), 4321, 4321), 0);
    }
    fs::create_symlink(target, file());

    IniFile ini(file());
    ini.WriteString("A", "2");

    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(file())));
    EXPECT_EQ(readBytes(target), "[RDPOstrel]\r\nA=2\r\n\r\n");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    if (asRoot) {
        EXPECT_EQ(status.st_uid, 4321u);
        EXPECT_EQ(status.st_gid, 4321u);
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(m_folder.path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Config.ini", "real.ini"}));
}
#endif

TEST_F(IniFileLifecycle, ANewFileIsForItsOwnerOnlyAndAnOldOneKeepsItsPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files have no owner/group/other bits: who reads Config.ini is the install folder's ACL";
#endif
    {
        IniFile ini(file());
        ini.WriteString("SQLPasswort", "secret");
    }
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    const auto shared = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(file(), shared);
    IniFile ini(file());
    ini.WriteString("SQLPasswort", "other");
    EXPECT_EQ(fs::status(file()).permissions() & fs::perms::all, shared);
}

TEST_F(IniFileLifecycle, ABatchRewritesOnceWhenTheOutermostEnds) {
    writeBytes(file(), "[RDPOstrel]\nA=0\n");
    IniFile ini(file());
    ini.BeginUpdate();
    ini.BeginUpdate();
    ini.WriteString("Layout\\Left", "1");
    ini.WriteString("Layout\\Top", "2");
    ini.EndUpdate();
    ini.WriteString("Layout\\Width", "3");
    EXPECT_EQ(readBytes(file()), "[RDPOstrel]\nA=0\n") << "rewritten inside the batch";
    EXPECT_EQ(ini.ReadString("Layout\\Top", ""), "2");
    ini.EndUpdate();
    EXPECT_EQ(readBytes(file()), "[RDPOstrel]\r\nA=0\r\n\r\n[Layout]\r\nLeft=1\r\nTop=2\r\nWidth=3\r\n\r\n");
}

TEST_F(IniFileLifecycle, ABatchChecksTheFileOnceAtItsStart) {
    writeBytes(file(), "[RDPOstrel]\nA=1\nB=1\n");
    IniFile ini(file());
    editOutside(file(), "[RDPOstrel]\nA=2\nB=1\n");
    ini.BeginUpdate();
    EXPECT_EQ(ini.ReadString("A", ""), "2") << "an edit before the batch counts";
    editOutside(file(), "[RDPOstrel]\nA=3\nB=3\n");
    EXPECT_EQ(ini.ReadString("B", ""), "1") << "no check inside the batch";
    ini.WriteString("A", "4");
    ini.EndUpdate();
    EXPECT_EQ(readBytes(file()), "[RDPOstrel]\r\nA=4\r\nB=1\r\n\r\n") << "the last rewrite wins";
}

TEST_F(IniFileLifecycle, ExtraEndUpdatesDoNotLeaveTheCounterBelowZero) {
    IniFile ini(file());
    ini.EndUpdate();
    ini.EndUpdate();
    EXPECT_FALSE(fs::exists(file()));
    ini.BeginUpdate();
    ini.WriteString("A", "1");
    EXPECT_FALSE(fs::exists(file())) << "the batch must still be open";
    ini.EndUpdate();
    EXPECT_EQ(readBytes(file()), "[RDPOstrel]\r\nA=1\r\n\r\n");
}

TEST_F(IniFileLifecycle, TheDestructorRewritesFromMemory) {
    writeBytes(file(), "; comment\n[RDPOstrel]\nA=1\n");
    {
        IniFile ini(file());
        EXPECT_EQ(ini.ReadString("A", ""), "1");
        // A change after the last access is lost: the end writes memory.
        editOutside(file(), "[RDPOstrel]\nA=2\n");
    }
    EXPECT_EQ(readBytes(file()), "[RDPOstrel]\r\nA=1\r\n\r\n");
}

TEST_F(IniFileLifecycle, TheDestructorCreatesNoFileFromNothing) {
    {
        IniFile ini(file());
        EXPECT_FALSE(ini.ValueExists("A"));
    }
    EXPECT_FALSE(fs::exists(file()));
}

TEST_F(IniFileLifecycle, ConcurrentWritersAndReadersLoseNothing) {
    IniFile ini(file());
    constexpr int Threads = 4;
    constexpr int Keys = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&ini, t] {
            for (int k = 0; k < Keys; ++k) {
                const std::string path = "T" + std::to_string(t) + "\\K" + std::to_string(k);
                ini.WriteInteger(path, k);
                EXPECT_EQ(ini.ReadInteger(path, -1), k);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    IniFile reread(file());
    for (int t = 0; t < Threads; ++t)
        for (int k = 0; k < Keys; ++k)
            EXPECT_EQ(reread.ReadInteger("T" + std::to_string(t) + "\\K" + std::to_string(k), -1), k);
}

} // namespace
} // namespace ostrel::test
