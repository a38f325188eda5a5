#include "config/ConfigurationLoad.h"

#include "common/Errors.h"
#include "common/Operator.h"
#include "config/AllowList.h"
#include "config/IniFile.h"
#include "db/Tables.h"
#include "platform/EventChannel.h"
#include "platform/EventSource.h"
#include "settings/SettingRanges.h"
#include "settings/Settings.h"

#include <cstdint>

namespace ostrel {

namespace {

// A connection value's check and the placeholder written to the file when it fails.
struct ConnectionCheck {
    std::string SettingsValues::*field;
    const char* key;
    const char* failingValue; // the field fails its check when it holds exactly this
    const char* placeholder;
};

constexpr ConnectionCheck ConnectionChecks[] = {
    {&SettingsValues::SQLServer, "SQLServer", "", "SQL SERVER"},
    {&SettingsValues::SQLPort, "SQLPort", "0", "3306"},
    {&SettingsValues::SQLDatabase, "SQLDatabase", "", "SQL DATENBANK"},
    {&SettingsValues::SQLUsername, "SQLUsername", "", "SQL USERNAME"},
    {&SettingsValues::SQLPasswort, "SQLPasswort", "", "DB GEHEIMNIS"},
};

// A stored number setting, refused unless it lies within its dialog field's range (an empty text
// included), shown as plain digits. Clamping instead made -3 minutes a block without end.
std::string checkedNumber(IniFile& ini, const SettingRange& range, const std::string& defaultValue) {
    return std::to_string(settingNumber(range, ini.ReadString(range.key, defaultValue)));
}

} // namespace

ConfigurationLoad::ConfigurationLoad(Settings& settings, IniFile& ini, Operator& op,
                                     std::filesystem::path eventChannelFolder, ShowDialog showDialog)
    : m_settings(settings), m_ini(ini), m_op(op), m_eventChannelFolder(std::move(eventChannelFolder)),
      m_showDialog(std::move(showDialog)) {}

void ConfigurationLoad::startUp() {
    OstrelKonfigurieren();
    if (!m_configError)
        OstrelSQLConn();
    m_op.logPlain(Pane::Log, BannerRule);
    m_op.logPlain(Pane::Log, BannerBeta);
}

void ConfigurationLoad::OstrelKonfigurieren() {
    logLine(m_op, " - Loading config ... ");
    m_configError = false;
    m_missingKeys.clear();
    // A file that is there but cannot be read would otherwise look like an empty one: defaults
    // loaded and placeholders "written" that never reach it.
    if (const std::string problem = m_ini.readProblem(); !problem.empty()) {
        m_configError = true;
        throw EInOutError(problem);
    }
    fillConnectionFields();
    writePlaceholders();
    if (m_configError && m_showDialog)
        m_showDialog();
    try {
        m_conn.setValues(ConnectionValues::fromSettings(m_settings));
        fillBlockingFields(Refused::StopsTheLoad);
        tellInvalidAllowListEntries();
    } catch (...) {
        // The mark and the keys after the one that stopped the load are read even so: otherwise
        // the next pass would work from a mark that was never loaded, and the dialog's Save
        // would write the values it held before over the file's (its allow list, its source).
        fillBlockingFields(Refused::IsPassedOver);
        loadLastRecord();
        throw;
    }
    loadLastRecord();
    if (platform::probeEventChannel(m_eventChannelFolder))
        logLine(m_op, " - Registry OK.");
    logLine(m_op, " - Config loaded.");
}

void ConfigurationLoad::fillConnectionFields() {
    m_settings.set(&SettingsValues::SQLServer, m_ini.ReadString("SQLServer", ""));
    m_settings.set(&SettingsValues::SQLPort, m_ini.ReadString("SQLPort", "0"));
    m_settings.set(&SettingsValues::SQLDatabase, m_ini.ReadString("SQLDatabase", ""));
    m_settings.set(&SettingsValues::SQLUsername, m_ini.ReadString("SQLUsername", ""));
    m_settings.set(&SettingsValues::SQLPasswort, m_ini.ReadString("SQLPasswort", ""));
    m_settings.set(&SettingsValues::SQLTBLPrefix, m_ini.ReadString("SQLTBLPrefix", ""));
    m_settings.set(&SettingsValues::SQLTBLPrefixHistory, m_ini.ReadString("SQLTBLPrefixHistory", ""));
}

void ConfigurationLoad::writePlaceholders() {
    // Every check runs; the field keeps its value, only the file gets the placeholder, so
    // the next load passes the check and fails at the connection instead.
    for (const ConnectionCheck& check : ConnectionChecks) {
        if (m_settings.get(check.field) == check.failingValue) {
            m_ini.WriteString(check.key, check.placeholder);
            m_configError = true;
            m_missingKeys.emplace_back(check.key);
        }
    }
}

void ConfigurationLoad::fillBlockingFields(Refused refused) {
    // Each value in turn: a refused one (a number out of its range, a flag that is no flag)
    // either ends the load there or, after a load that stopped already, keeps what its field held.
    const auto fill = [refused](const auto& read) {
        if (refused == Refused::StopsTheLoad)
            return read();
        try {
            read();
        } catch (const std::exception&) {
        }
    };
    fill([&] { m_settings.set(&SettingsValues::BlockInvalidUser, m_ini.ReadBoolean("BlockInvalidUser", true)); });
    fill([&] {
        m_settings.set(&SettingsValues::BlockInvalidUserCount, checkedNumber(m_ini, BlockInvalidUserCountRange, "1"));
    });
    fill([&] {
        m_settings.set(&SettingsValues::BlockInvalidUserInterval,
                       checkedNumber(m_ini, BlockInvalidUserIntervalRange, "120"));
    });
    fill([&] {
        m_settings.set(&SettingsValues::BlockHoneypotInterval, checkedNumber(m_ini, BlockHoneypotIntervalRange, "120"));
    });
    fill([&] { m_settings.set(&SettingsValues::Report, m_ini.ReadBoolean("Report", true)); });
    m_settings.set(&SettingsValues::AbuseReportRDPURL, m_ini.ReadString("AbuseReportRDPURL", ""));
    m_settings.set(&SettingsValues::AbuseKEY, m_ini.ReadString("AbuseKEY", ""));
    m_settings.set(&SettingsValues::EventSource, m_ini.ReadString("EventSource", ""));
    m_settings.set(&SettingsValues::AllowList, m_ini.ReadString("AllowList", ""));
}

void ConfigurationLoad::tellInvalidAllowListEntries() {
    // Told here, once per load (and so per Save), rather than at every block it is read for.
    const AllowList parsed = AllowList::parse(m_settings.get(&SettingsValues::AllowList));
    for (const std::string& entry : parsed.invalidEntries())
        logLine(m_op, " - AllowList: '" + entry + "' is no address or range - ignored.");
}

void ConfigurationLoad::loadLastRecord() {
    m_settings.set(&SettingsValues::LastRecord, m_ini.ReadString("LastRecord", "0"));
}

void ConfigurationLoad::OstrelSQLConn() {
    m_connectionError.clear();
    try {
        m_conn.connect();
    } catch (const std::exception& error) {
        // The reason stays unlogged: the operator is sent to the configuration instead.
        m_connectionError = error.what();
        logLine(m_op, " - Database connection FAILED!.");
        m_configError = true;
        return;
    }
    logLine(m_op, " - Database connection established.");
    reportTablesWithoutTransactions();
}

void ConfigurationLoad::reportTablesWithoutTransactions() {
    std::vector<std::string> tables;
    try {
        const Tables names = Tables::fromSettings(m_settings);
        tables = m_conn.tablesWithoutTransactions(
            {names.merkliste, names.firewall, names.firewall_history, names.lastrecord, names.firewallchanges});
    } catch (const std::exception&) {
        // Only a warning rests on this; a prefix or a server that fails here fails the first
        // operation all the same, with its own error.
        return;
    }
    if (tables.empty())
        return;
    std::string list;
    for (const std::string& table : tables)
        list += (list.empty() ? "" : ", ") + table;
    logLine(m_op, " - Tables without transactions, so a scan's store and a release are not all-or-nothing: " + list);
}

} // namespace ostrel
