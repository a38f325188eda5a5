#include "common/Errors.h"
#include "config/ConfigurationLoad.h"
#include "config/IniFile.h"
#include "settings/Settings.h"
#include "support/RecordingOperator.h"
#include "support/TempFolder.h"
#include "support/UnprivilegedFileAccess.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace ostrel::test {
namespace {
namespace fs = std::filesystem;

const std::string Content = "[RDPOstrel]\r\nSQLServer=db.invalid\r\nSQLPort=3306\r\nSQLDatabase=d\r\n"
                            "SQLUsername=u\r\nSQLPasswort=p\r\n\r\n";

std::string contentOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A Config.ini nobody may read, in a folder anybody may enter.
struct UnreadableFile {
    UnreadableFile() {
        fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        std::ofstream(file(), std::ios::binary) << Content;
        fs::permissions(file(), fs::perms::none);
    }
    fs::path file() const { return folder / "Config.ini"; }
    TempFolder folder;
};

TEST(UnreadableConfig, TheLoadSaysWhyAndWritesNothing) {
    UnreadableFile f;
    Settings settings;
    RecordingOperator op;
    int dialogShown = 0;
    {
        UnprivilegedFileAccess unprivileged;
        IniFile ini(f.file());
        ConfigurationLoad load(settings, ini, op, f.folder / "Eventlog", [&] { ++dialogShown; });
        try {
            load.startUp();
            FAIL() << "an unreadable file must not load";
        } catch (const EInOutError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot read " + f.file().string() + ": Permission denied");
        }
        EXPECT_TRUE(load.ConfigError());
        EXPECT_TRUE(load.missingKeys().empty()) << "no placeholders claimed";
        EXPECT_EQ(dialogShown, 0);
    }
    EXPECT_FALSE(op.hasLine(" - Config loaded."));
    EXPECT_EQ(contentOf(f.file()), Content) << "nothing rewrote the file, not even the store's end";
}

TEST(UnreadableConfig, ACommittedSaveRaisesWhenTheFileCannotBeWritten) {
    struct Case {
        const char* name;
        fs::perms filePermissions;
        std::string message; // after "Cannot write|read <file>"
    };
    const Case cases[] = {
        {"folder not writable",
         fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
         "Cannot write {}: Permission denied"},
        {"file unreadable", fs::perms::none, "Cannot read {}: Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        UnreadableFile f;
        fs::permissions(f.file(), c.filePermissions);
        std::string expected = c.message;
        expected.replace(expected.find("{}"), 2, f.file().string());
        UnprivilegedFileAccess unprivileged;
        IniFile ini(f.file());
        ini.BeginUpdate();
        ini.WriteString("SQLServer", "elsewhere");
        try {
            ini.CommitUpdate();
            FAIL() << "the failed rewrite must raise";
        } catch (const EInOutError& error) {
            EXPECT_EQ(std::string(error.what()).substr(0, expected.size()), expected) << error.what();
        }
    }
}

} // namespace
} // namespace ostrel::test
