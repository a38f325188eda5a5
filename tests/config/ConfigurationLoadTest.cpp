#include "config/ConfigurationLoad.h"

#include "common/Errors.h"
#include "config/IniFile.h"
#include "settings/Settings.h"
#include "support/RecordingOperator.h"
#include "support/TempFolder.h"
#include "support/TestDatabase.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace ostrel::test {
namespace {

const std::string Loading = " - Loading config ... ";
const std::string RegistryOk = " - Registry OK.";
const std::string Loaded = " - Config loaded.";
const std::string Failed = " - Database connection FAILED!.";
const std::string Established = " - Database connection established.";
const std::string BannerRule = "-------------------------------------------";
const std::string BannerBeta = "This is a BETA-Version. It should not be used on productive systems!";

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A Config.ini with the given "Key=Value" lines in the default section.
void writeConfig(const std::filesystem::path& file, const std::vector<std::string>& lines) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << "[RDPOstrel]\r\n";
    for (const std::string& line : lines)
        out << line << "\r\n";
}

std::vector<std::string> goodConnectionLines() {
    const TestServer& server = TestServer::get();
    return {"SQLServer=" + server.host, "SQLPort=" + std::to_string(server.port), "SQLDatabase=" + server.database,
            "SQLUsername=" + server.user, "SQLPasswort=" + server.password};
}

// Complete connection values that no test connects with.
std::vector<std::string> unusedConnectionLines() {
    return {"SQLServer=db.invalid", "SQLPort=3307", "SQLDatabase=ostrel", "SQLUsername=u", "SQLPasswort=p"};
}

// The window's side of a load: its settings, its store, its log and its dialog.
struct LoadFixture {
    explicit LoadFixture(const std::vector<std::string>* configLines = nullptr) {
        if (configLines)
            writeConfig(configFile(), *configLines);
        ini = std::make_unique<IniFile>(configFile());
        load = std::make_unique<ConfigurationLoad>(settings, *ini, op, folder / "Eventlog", [this] { ++dialogShown; });
    }
    std::filesystem::path configFile() const { return folder / "Config.ini"; }
    std::string readConfigFile() const { return readFile(configFile()); }

    TempFolder folder;
    Settings settings;
    RecordingOperator op;
    std::unique_ptr<IniFile> ini;
    std::unique_ptr<ConfigurationLoad> load;
    int dialogShown = 0;
};

TEST(ConfigurationLoad, FirstStartWithoutFileWritesPlaceholdersAndOpensTheDialog) {
    LoadFixture f;
    f.load->startUp();

    EXPECT_TRUE(f.load->ConfigError());
    EXPECT_EQ(f.dialogShown, 1);
    EXPECT_FALSE(f.load->Conn().connected()) << "no connection is tried while a value is missing";
    EXPECT_EQ(f.op.lines(), (std::vector<std::string>{Loading, RegistryOk, Loaded, BannerRule, BannerBeta}));
    EXPECT_EQ(readFile(f.configFile()), "[RDPOstrel]\r\nSQLServer=SQL SERVER\r\nSQLPort=3306\r\n"
                                        "SQLDatabase=SQL DATENBANK\r\nSQLUsername=SQL USERNAME\r\n"
                                        "SQLPasswort=DB GEHEIMNIS\r\n\r\n");

    // The fields keep what the file gave them; only the file has the placeholders.
    const SettingsValues values = f.settings.snapshot();
    EXPECT_EQ(values.SQLServer, "");
    EXPECT_EQ(values.SQLPort, "0");
    EXPECT_EQ(values.SQLPasswort, "");
    EXPECT_TRUE(values.BlockInvalidUser);
    EXPECT_EQ(values.BlockInvalidUserCount, "1");
    EXPECT_EQ(values.BlockInvalidUserInterval, "120");
    EXPECT_EQ(values.BlockHoneypotInterval, "120");
    EXPECT_TRUE(values.Report);
    EXPECT_EQ(values.LastRecord, "0");
    EXPECT_EQ(f.load->Conn().values().port, 0);
}

TEST(ConfigurationLoad, SecondStartWithPlaceholdersFailsAtTheConnection) {
    LoadFixture f;
    f.load->startUp();
    f.op.clear();

    // The next program start over the same folder.
    LoadFixture again;
    std::filesystem::copy_file(f.configFile(), again.configFile());
    IniFile ini(again.configFile());
    ConfigurationLoad load(again.settings, ini, again.op, again.folder / "Eventlog", [&] { ++again.dialogShown; });
    load.startUp();

    EXPECT_TRUE(load.ConfigError());
    EXPECT_EQ(again.dialogShown, 0);
    EXPECT_EQ(again.op.lines(),
              (std::vector<std::string>{Loading, RegistryOk, Loaded, Failed, BannerRule, BannerBeta}));
    EXPECT_EQ(load.Conn().values().host, "SQL SERVER");
    EXPECT_EQ(load.Conn().values().port, 3306);
}

TEST(ConfigurationLoad, GoodConfigurationEstablishesTheConnection) {
    OSTREL_REQUIRE_TEST_DB();
    const auto lines = goodConnectionLines();
    LoadFixture f(&lines);
    f.load->startUp();

    EXPECT_FALSE(f.load->ConfigError());
    EXPECT_TRUE(f.load->Conn().connected());
    EXPECT_EQ(f.dialogShown, 0);
    EXPECT_EQ(f.op.lines(),
              (std::vector<std::string>{Loading, RegistryOk, Loaded, Established, BannerRule, BannerBeta}));
}

// The all-or-nothing store and release need transactions: tables without them are named at start.
TEST(ConfigurationLoad, TablesWithoutTransactionsAreNamedInOneLine) {
    OSTREL_REQUIRE_TEST_DB();
    TestTables tables;
    tables.exec("ALTER TABLE " + tables.firewall() + " ENGINE = MyISAM");
    tables.exec("ALTER TABLE " + tables.history() + " ENGINE = Aria TRANSACTIONAL = 1");
    auto lines = goodConnectionLines();
    lines.push_back("SQLTBLPrefix=" + tables.prefix());
    lines.push_back("SQLTBLPrefixHistory=" + tables.historyPrefix());
    LoadFixture f(&lines);
    f.load->startUp();

    EXPECT_EQ(f.op.lines(),
              (std::vector<std::string>{Loading, RegistryOk, Loaded, Established,
                                        " - Tables without transactions, so a scan's store and a release are not "
                                        "all-or-nothing: " +
                                            tables.firewall() + " (MyISAM), " + tables.history() + " (Aria)",
                                        BannerRule, BannerBeta}));
    EXPECT_FALSE(f.load->ConfigError()) << "a warning, not a faulty configuration";
}

TEST(ConfigurationLoad, PortZeroGetsItsPlaceholderWhileTheFieldKeepsZero) {
    auto lines = unusedConnectionLines();
    lines[1] = "SQLPort=0";
    LoadFixture f(&lines);
    f.load->OstrelKonfigurieren();

    EXPECT_TRUE(f.load->ConfigError());
    EXPECT_EQ(f.dialogShown, 1);
    EXPECT_EQ(f.settings.get(&SettingsValues::SQLPort), "0");
    EXPECT_EQ(f.load->Conn().values().port, 0);
    EXPECT_EQ(f.ini->ReadString("SQLPort", "absent"), "3306");
    EXPECT_TRUE(f.op.hasLine(Loaded));
}

TEST(ConfigurationLoad, EmptyPortEndsTheLoadAtTheConnectionValues) {
    auto lines = unusedConnectionLines();
    lines[1] = "SQLPort=";
    lines.push_back("BlockInvalidUser=FALSE");
    lines.push_back("LastRecord=77");
    LoadFixture f(&lines);
    f.settings.set(&SettingsValues::LastRecord, std::string("kept"));

    try {
        f.load->startUp();
        FAIL() << "the empty port must raise the conversion error";
    } catch (const EConvertError& error) {
        EXPECT_STREQ(error.what(), "'' ist kein gültiger Integerwert (SQLPort takes a whole number from 0 to 65535)");
    }
    EXPECT_FALSE(f.load->ConfigError()) << "an empty port is no missing value";
    EXPECT_EQ(f.dialogShown, 0);
    EXPECT_EQ(f.ini->ReadString("SQLPort", "absent"), "") << "no placeholder for an empty port";
    EXPECT_FALSE(f.settings.get(&SettingsValues::BlockInvalidUser)) << "the later fields get the file's values";
    EXPECT_EQ(f.settings.get(&SettingsValues::LastRecord), "77") << "the mark is loaded all the same";
    EXPECT_EQ(f.op.lines(), std::vector<std::string>{Loading}) << "no connection, no banner after the error";
}

struct NumberCase {
    const char* name;
    std::string line;    // the stored "Key=Value"
    std::string refused; // the load's error; empty: loaded
    std::string shown;   // what the setting holds after the load (the default when refused)
    std::string SettingsValues::*setting;
};

TEST(ConfigurationLoad, NumberSettingsOutsideTheirRangeAreRefusedWithKeyAndRange) {
    const std::string block = " (BlockInvalidUserInterval takes a whole number from 0 to 1440)";
    const std::string honeypot = " (BlockHoneypotInterval takes a whole number from 1 to 1440)";
    const std::string count = " (BlockInvalidUserCount takes a whole number from 1 to 50)";
    const std::string port = " (SQLPort takes a whole number from 0 to 65535)";
    const std::vector<NumberCase> cases = {
        {"block time within range", "BlockInvalidUserInterval= +0007 ", "", "7",
         &SettingsValues::BlockInvalidUserInterval},
        {"block time at its ends", "BlockInvalidUserInterval=1440", "", "1440",
         &SettingsValues::BlockInvalidUserInterval},
        {"block time above", "BlockInvalidUserInterval=5000", "'5000' is out of range" + block, "120",
         &SettingsValues::BlockInvalidUserInterval},
        {"negative block time never means no end", "BlockInvalidUserInterval=-3", "'-3' is out of range" + block, "120",
         &SettingsValues::BlockInvalidUserInterval},
        {"empty block time never means no end", "BlockInvalidUserInterval=", "'' ist kein gültiger Integerwert" + block,
         "120", &SettingsValues::BlockInvalidUserInterval},
        {"honeypot block time zero", "BlockHoneypotInterval=0", "'0' is out of range" + honeypot, "120",
         &SettingsValues::BlockHoneypotInterval},
        {"honeypot block time not a number", "BlockHoneypotInterval=1 2",
         "'1 2' ist kein gültiger Integerwert" + honeypot, "120", &SettingsValues::BlockHoneypotInterval},
        {"threshold empty", "BlockInvalidUserCount=", "'' ist kein gültiger Integerwert" + count, "1",
         &SettingsValues::BlockInvalidUserCount},
        {"threshold above", "BlockInvalidUserCount=51", "'51' is out of range" + count, "1",
         &SettingsValues::BlockInvalidUserCount},
        {"threshold zero", "BlockInvalidUserCount=0", "'0' is out of range" + count, "1",
         &SettingsValues::BlockInvalidUserCount},
        {"threshold within", "BlockInvalidUserCount=50", "", "50", &SettingsValues::BlockInvalidUserCount},
        {"port above", "SQLPort=99999", "'99999' is out of range" + port, "99999", &SettingsValues::SQLPort},
        {"port negative", "SQLPort=-1", "'-1' is out of range" + port, "-1", &SettingsValues::SQLPort},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto lines = unusedConnectionLines();
        const std::string key = c.line.substr(0, c.line.find('=') + 1);
        std::erase_if(lines, [&](const std::string& line) { return line.rfind(key, 0) == 0; });
        lines.push_back(c.line);
        LoadFixture f(&lines);
        const std::string before = f.readConfigFile();
        std::string raised;
        try {
            f.load->OstrelKonfigurieren();
        } catch (const EConvertError& error) {
            raised = error.what();
        }
        EXPECT_EQ(raised, c.refused);
        EXPECT_EQ(f.settings.get(c.setting), c.shown);
        EXPECT_EQ(f.op.hasLine(Loaded), c.refused.empty());
        EXPECT_EQ(f.readConfigFile(), before) << "a refused value is left for the operator to mend";
    }
}

// Every setting with a value of its own, so that a field that was (not) loaded shows.
const std::vector<std::string> FullFile = {
    "BlockInvalidUser=FALSE",
    "BlockInvalidUserCount=7",
    "BlockInvalidUserInterval=30",
    "BlockHoneypotInterval=40",
    "Report=NO",
    "AbuseReportRDPURL=http://report.example/r?x=1",
    "AbuseKEY=secret",
    "LastRecord=4711",
    "SQLTBLPrefix=pre_",
    "SQLTBLPrefixHistory=hist_",
};

struct StopCase {
    const char* name;
    std::string badLine;   // replaces the line of the same key
    std::string offending; // the text the conversion error names; empty: the load completes
    int stepsDone;         // the last of the steps 6..12 that completed
    std::string shownBlockTime;
};

TEST(ConfigurationLoad, TextsThatAreNoWholeNumberStopTheLoadButNoFieldLosesTheFilesValue) {
    const std::vector<StopCase> cases = {
        {"port", "SQLPort=33o6", "33o6", 5, "30"},
        {"boolean of the firewall rules", "BlockInvalidUser=ja", "ja", 6, "30"},
        {"block time", "BlockInvalidUserInterval=abc", "abc", 8, "120"},
        {"honeypot block time", "BlockHoneypotInterval=1 2", "1 2", 8, "30"},
        {"boolean of the report", "Report=vielleicht", "vielleicht", 9, "30"},
        {"failed attempts", "BlockInvalidUserCount=abc", "abc", 7, "30"},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto lines = unusedConnectionLines();
        lines.insert(lines.end(), FullFile.begin(), FullFile.end());
        const std::string key = c.badLine.substr(0, c.badLine.find('=') + 1);
        for (std::string& line : lines)
            if (line.rfind(key, 0) == 0)
                line = c.badLine;
        LoadFixture f(&lines);
        SettingsValues before;
        before.SQLPort = "1";
        before.BlockInvalidUser = true;
        before.BlockInvalidUserCount = "1";
        before.Report = true;
        before.LastRecord = "kept";
        f.settings.assign(before);

        std::string raised;
        try {
            f.load->OstrelKonfigurieren();
        } catch (const EConvertError& error) {
            raised = error.what();
        }
        EXPECT_EQ(raised.substr(0, raised.find(" (")), "'" + c.offending + "' ist kein gültiger Integerwert");

        const SettingsValues after = f.settings.snapshot();
        EXPECT_EQ(after.SQLTBLPrefix, "pre_") << "the fields of step 3 are always filled";
        EXPECT_EQ(f.load->Conn().values().port, c.stepsDone >= 6 ? 3307 : 0);
        // The fields after the stop get the file's values all the same (a Save of the mended
        // value would otherwise write the old ones over them); the refused one keeps its own.
        const auto refused = [&](const char* name) { return key == std::string(name) + "="; };
        EXPECT_EQ(after.BlockInvalidUser, refused("BlockInvalidUser"));
        EXPECT_EQ(after.BlockInvalidUserCount, refused("BlockInvalidUserCount") ? "1" : "7");
        EXPECT_EQ(after.BlockInvalidUserInterval, c.shownBlockTime);
        EXPECT_EQ(after.BlockHoneypotInterval, refused("BlockHoneypotInterval") ? "120" : "40");
        EXPECT_EQ(after.Report, refused("Report"));
        EXPECT_EQ(after.AbuseKEY, "secret");
        EXPECT_EQ(after.LastRecord, "4711") << "the mark is loaded however early the load stops";
        EXPECT_EQ(f.op.hasLine(RegistryOk), c.stepsDone >= 12);
        EXPECT_EQ(f.op.hasLine(Loaded), c.stepsDone >= 12);
    }
}

TEST(ConfigurationLoad, ALoadThatPassesTheChecksClearsConfigErrorWithoutConnecting) {
    LoadFixture f;
    f.load->OstrelKonfigurieren();
    ASSERT_TRUE(f.load->ConfigError());
    f.dialogShown = 0;

    // The dialog's Save wrote values that pass the checks but reach no server.
    f.ini->WriteString("SQLServer", "db.invalid");
    f.load->OstrelKonfigurieren();

    EXPECT_FALSE(f.load->ConfigError());
    EXPECT_EQ(f.dialogShown, 0);
    EXPECT_FALSE(f.load->Conn().connected());
    EXPECT_FALSE(f.op.hasLine(Failed));
}

TEST(ConfigurationLoad, AllowListIsLoadedAndItsInvalidEntriesAreToldOncePerLoad) {
    auto lines = unusedConnectionLines();
    lines.push_back("AllowList=203.0.113.7, gateway.example 2001:db8::/32,198.51.100.0/33");
    LoadFixture f(&lines);
    f.load->OstrelKonfigurieren();

    EXPECT_EQ(f.settings.get(&SettingsValues::AllowList), "203.0.113.7, gateway.example 2001:db8::/32,198.51.100.0/33");
    EXPECT_EQ(f.op.lines(),
              (std::vector<std::string>{Loading, " - AllowList: 'gateway.example' is no address or range - ignored.",
                                        " - AllowList: '198.51.100.0/33' is no address or range - ignored.", RegistryOk,
                                        Loaded}));

    // The next load (a Save) tells them again, once; a list without such entries tells nothing.
    f.op.clear();
    f.load->OstrelKonfigurieren();
    EXPECT_EQ(f.op.lines().size(), 5u);
    f.op.clear();
    f.ini->WriteString("AllowList", "203.0.113.7");
    f.load->OstrelKonfigurieren();
    EXPECT_EQ(f.op.lines(), (std::vector<std::string>{Loading, RegistryOk, Loaded}));
    EXPECT_EQ(f.settings.get(&SettingsValues::AllowList), "203.0.113.7");
}

TEST(ConfigurationLoad, RegistryProbeThatFailsWritesNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "the probe is the registry key on Windows, and Wine lets every process create it";
#endif
    LoadFixture f;
    std::ofstream(f.folder / "not-a-folder") << "x";
    ConfigurationLoad load(f.settings, *f.ini, f.op, f.folder / "not-a-folder" / "Eventlog", {});
    load.OstrelKonfigurieren();
    EXPECT_EQ(f.op.lines(), (std::vector<std::string>{Loading, Loaded}));
}

struct ReloadCase {
    const char* name;
    std::string changedLine; // empty: the same values again
    bool staysOpen;
};

TEST(ConfigurationLoad, AReloadWithOtherSessionValuesClosesTheStartUpConnection) {
    OSTREL_REQUIRE_TEST_DB();
    const TestServer& server = TestServer::get();
    const std::vector<ReloadCase> cases = {
        {"same values", "", true},
        {"another database name", "SQLDatabase=other", true},
        {"another server", "SQLServer=localhost", false},
        {"another port", "SQLPort=" + std::to_string(server.port + 1), false},
        {"another user", "SQLUsername=" + server.user + "x", false},
        {"another password", "SQLPasswort=" + server.password + "x", false},
    };
    for (const ReloadCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto lines = goodConnectionLines();
        LoadFixture f(&lines);
        f.load->startUp();
        ASSERT_TRUE(f.load->Conn().connected());

        if (!c.changedLine.empty()) {
            const auto eq = c.changedLine.find('=');
            f.ini->WriteString(c.changedLine.substr(0, eq), c.changedLine.substr(eq + 1));
        }
        f.load->OstrelKonfigurieren();
        EXPECT_EQ(f.load->Conn().connected(), c.staysOpen);
        EXPECT_FALSE(f.load->ConfigError());
    }
}

} // namespace
} // namespace ostrel::test
