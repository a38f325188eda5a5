#pragma once

#include "db/StartupConnection.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ostrel {

class IniFile;
class Operator;
class Settings;

// The configuration load of the operator window: fills the live settings (the dialog's
// fields) from Config.ini, checks the five connection values, hands them to the start-up
// connection and keeps the flag `ConfigError`. Lives as long as the window.
class ConfigurationLoad {
public:
    // Shows the configuration dialog without waiting and brings it to the front.
    using ShowDialog = std::function<void()>;

    // `eventChannelFolder` is where the registry probe's stand-in looks.
    ConfigurationLoad(Settings& settings, IniFile& ini, Operator& op, std::filesystem::path eventChannelFolder,
                      ShowDialog showDialog);

    // The start-up order of the window's first showing: the load, the start-up connection
    // when the load found nothing missing, then the two banner lines. A conversion error of
    // the load ends it there and raises.
    void startUp();

    // The load (`OstrelKonfigurieren`), also run after every Save of the dialog. A text that
    // must be a whole number and is none raises EConvertError and ends the load at that step;
    // LastRecord is loaded all the same, so that no pass works from a mark it never read.
    void OstrelKonfigurieren();

    // Opens the start-up connection with the values of the last load and logs the outcome;
    // a failure sets `ConfigError`. Tables on an engine without transactions are named in one line.
    void OstrelSQLConn();

    // Set while a connection value is missing or the start-up connection failed.
    bool ConfigError() const { return m_configError; }
    // The keys whose values the last load found missing (placeholders written), in order.
    const std::vector<std::string>& missingKeys() const { return m_missingKeys; }
    // Why the last start-up connection failed; empty when it did not. Never logged (the
    // window sends the operator to the dialog), but a program without one must say why.
    const std::string& connectionError() const { return m_connectionError; }

    StartupConnection& Conn() { return m_conn; }
    const StartupConnection& Conn() const { return m_conn; }

    static constexpr const char* BannerRule = "-------------------------------------------";
    static constexpr const char* BannerBeta = "This is a BETA-Version. It should not be used on productive systems!";

private:
    void fillConnectionFields();
    void writePlaceholders();
    // What a value the load refuses does: it stops the load, or (once the load has stopped)
    // it is passed over and its field keeps what it held.
    enum class Refused { StopsTheLoad, IsPassedOver };
    void fillBlockingFields(Refused refused);
    void tellInvalidAllowListEntries();
    void loadLastRecord();
    void reportTablesWithoutTransactions();

    Settings& m_settings;
    IniFile& m_ini;
    Operator& m_op;
    std::filesystem::path m_eventChannelFolder;
    ShowDialog m_showDialog;
    StartupConnection m_conn;
    bool m_configError = false;
    std::vector<std::string> m_missingKeys;
    std::string m_connectionError;
};

} // namespace ostrel
