#include "ctl/SetupCheck.h"

#include "common/Errors.h"
#include "config/IniFile.h"
#include "ctl/CtlOperator.h"
#include "ctl/CtlOptions.h"
#include "db/Connection.h"
#include "db/Tables.h"
#include "platform/EventSource.h"
#include "platform/FirewallCommand.h"
#include "platform/portable/ChannelFileSource.h"
#include "platform/portable/EventSourceChoice.h"
#include "settings/SettingRanges.h"
#include "settings/Settings.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <utility>

namespace ostrel {
namespace {

constexpr const char* ConnectionKeys[] = {"SQLServer", "SQLPort", "SQLDatabase", "SQLUsername", "SQLPasswort"};

std::string joined(const std::vector<std::string>& parts, const char* separator = ", ") {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : separator) + part;
    return text;
}

class CheckReport {
public:
    explicit CheckReport(std::ostream& out) : m_out(out) {}
    // Writes the line; returns whether the check passed.
    bool line(const char* check, const std::optional<std::string>& failure, const std::string& found) {
        if (failure)
            m_failed = true;
        m_out << (failure ? "FAIL " : "ok   ") << check << ": " << (failure ? *failure : found) << '\n';
        return !failure;
    }
    void notChecked(const char* check, const char* because) { line(check, std::string("not checked: ") + because, {}); }
    bool failed() const { return m_failed; }

private:
    std::ostream& m_out;
    bool m_failed = false;
};

std::optional<std::string> missingValues(IniFile& ini) {
    std::vector<std::string> missing;
    for (const char* key : ConnectionKeys) {
        const std::string value = ini.ReadString(key, "");
        if (value.empty() || (std::string(key) == "SQLPort" && value == "0"))
            missing.emplace_back(key);
    }
    if (missing.empty())
        return std::nullopt;
    return joined(missing) + " missing";
}

std::optional<std::string> valuesOutOfRange(IniFile& ini) {
    std::vector<std::string> problems;
    for (const SettingRange& range : numberSettings()) {
        if (!ini.ValueExists(range.key))
            continue;
        if (std::string problem = settingNumberProblem(range, ini.ReadString(range.key, "")); !problem.empty())
            problems.push_back(std::move(problem));
    }
    for (const char* key : {"BlockInvalidUser", "Report"}) {
        try {
            ini.ReadBoolean(key, true);
        } catch (const std::exception& error) {
            problems.push_back(std::string(error.what()) + " (" + key + ")");
        }
    }
    for (const char* key : {"SQLTBLPrefix", "SQLTBLPrefixHistory"}) {
        try {
            requirePlainPrefix(ini.ReadString(key, ""), key);
        } catch (const std::exception& error) {
            problems.emplace_back(error.what());
        }
    }
    if (problems.empty())
        return std::nullopt;
    return joined(problems, "; ");
}

// The five tables: those missing, and those on an engine without transactions.
std::optional<std::string> tableProblems(Connection& connection, const Tables& tables) {
    const std::vector<std::string> names = {tables.merkliste, tables.firewall, tables.firewall_history,
                                            tables.lastrecord, tables.firewallchanges};
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ", ") + connection.quote(name);
    ResultSet rows = connection.execute(
        "SELECT T.TABLE_NAME AS name, T.ENGINE AS engine, COALESCE(E.TRANSACTIONS, 'NO') AS transactions"
        " FROM information_schema.TABLES T LEFT JOIN information_schema.ENGINES E ON E.ENGINE = T.ENGINE"
        " WHERE T.TABLE_SCHEMA = DATABASE() AND T.TABLE_NAME IN (" +
        list + ")");
    std::set<std::string> present;
    std::vector<std::string> problems;
    for (; !rows.eof(); rows.next()) {
        present.insert(rows.text("name"));
        if (rows.text("transactions") != "YES")
            problems.push_back(rows.text("name") + " has no transactions (" + rows.text("engine") + ")");
    }
    std::vector<std::string> missing;
    for (const std::string& name : names)
        if (!present.contains(name))
            missing.push_back(name);
    if (!missing.empty())
        problems.insert(problems.begin(), "missing: " + joined(missing) + " (load sql/schema.sql)");
    if (problems.empty())
        return std::nullopt;
    return joined(problems, "; ");
}

// What the source the settings choose reads, as a pass would find it; raises why it cannot be
// read. The xrdp log is only opened: its source would note where the log stands, and a check
// changes nothing. A folder given on the command line is the channel file's.
std::string readableEventSource(const CtlOptions& options, IniFile& ini) {
    std::error_code ignored;
    const std::string text = ini.ReadString("EventSource", "");
    const std::optional<platform::EventSourceChoice> choice = platform::parseEventSourceChoice(text);
    if (!choice)
        throw Error("'" + text + "' names no event source (" + platform::EventSourceChoices + ")");
    if (choice->kind == platform::EventSourceChoice::Kind::XrdpLog) {
        const std::filesystem::path& log = choice->xrdpLog;
        if (!std::filesystem::is_regular_file(log, ignored))
            throw Error("the xrdp log " + log.string() + " does not exist");
        if (!std::ifstream(log, std::ios::binary))
            throw Error("the xrdp log " + log.string() + " cannot be read");
        return "readable (the xrdp log " + log.string() + ")";
    }
    std::unique_ptr<platform::EventSource> source =
        options.eventlogGiven ? std::make_unique<platform::ChannelFileSource>(options.eventlog)
                              : platform::makeChosenEventSource(*choice, {options.eventlog, {}});
    // A channel folder that is not there would make every pass find nothing, without an error.
    if (dynamic_cast<platform::ChannelFileSource*>(source.get()) &&
        !std::filesystem::is_directory(options.eventlog, ignored))
        throw Error("the channel folder " + options.eventlog.string() + " does not exist");
    source->recordsAbove(std::numeric_limits<std::int64_t>::max());
    return "readable (" + options.eventlog.string() + ")";
}

} // namespace

int checkSetup(const CtlOptions& options, std::ostream& out) {
    CheckReport report(out);
    IniFile ini(options.configFile, IniFile::Access::ReadOnly);
    const std::string file = options.configFile.string();

    std::error_code ignored;
    std::optional<std::string> unreadable;
    if (!std::filesystem::exists(options.configFile, ignored))
        unreadable =
            "Cannot read " + file + ": " + std::make_error_code(std::errc::no_such_file_or_directory).message();
    else if (std::string problem = ini.readProblem(); !problem.empty())
        unreadable = problem;
    bool usable = report.line("settings file", unreadable, file + " readable");
    if (usable) {
        usable = report.line("settings complete", missingValues(ini), "the five connection values present");
        usable = report.line("values in range", valuesOutOfRange(ini), "every value within its range") && usable;
    } else {
        report.notChecked("settings complete", "no settings");
        report.notChecked("values in range", "no settings");
    }

    Settings settings;
    if (usable) {
        // Taken from the file directly: the configuration load would also probe (and create)
        // the channel folder, and a check changes nothing.
        for (const auto& [field, key] : {std::pair{&SettingsValues::SQLServer, "SQLServer"},
                                         {&SettingsValues::SQLPort, "SQLPort"},
                                         {&SettingsValues::SQLDatabase, "SQLDatabase"},
                                         {&SettingsValues::SQLUsername, "SQLUsername"},
                                         {&SettingsValues::SQLPasswort, "SQLPasswort"},
                                         {&SettingsValues::SQLTBLPrefix, "SQLTBLPrefix"},
                                         {&SettingsValues::SQLTBLPrefixHistory, "SQLTBLPrefixHistory"}})
            settings.set(field, ini.ReadString(key, ""));
    }
    std::unique_ptr<Connection> connection;
    if (usable) {
        try {
            connection = std::make_unique<Connection>(settings);
        } catch (const std::exception& error) {
            report.line("database", std::string(error.what()), {});
        }
        if (connection)
            report.line("database", std::nullopt,
                        "reached " + settings.get(&SettingsValues::SQLDatabase) + " on " +
                            settings.get(&SettingsValues::SQLServer));
    } else
        report.notChecked("database", "the settings are not usable");
    if (connection) {
        try {
            report.line("tables", tableProblems(*connection, Tables::fromSettings(settings)),
                        "all five present, with transactions");
        } catch (const std::exception& error) {
            report.line("tables", std::string(error.what()), {});
        }
    } else
        report.notChecked("tables", "no database");

    try {
        report.line("event source", std::nullopt, readableEventSource(options, ini));
    } catch (const std::exception& error) {
        report.line("event source", std::string(error.what()), {});
    }

    try {
        std::ostringstream firewallLines;
        CtlOperator op(firewallLines);
        const auto firewall = platform::makeFirewallCommand(op);
        const std::size_t held = firewall->blockedAddresses().size();
        report.line("firewall", std::nullopt, "usable, " + std::to_string(held) + " addresses blocked here");
    } catch (const std::exception& error) {
        report.line("firewall", std::string(error.what()), {});
    }
    return report.failed() ? ExitFailed : ExitDone;
}

} // namespace ostrel
