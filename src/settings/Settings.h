#pragma once

#include <mutex>
#include <string>

namespace ostrel {

class IniFile;

// The values of the live configuration, one field per key of the default section of
// Config.ini (named as the key) plus the pass interval `Time`, which is never stored.
// Number fields keep their text as typed or loaded; each reader converts at use.
struct SettingsValues {
    std::string SQLServer;
    std::string SQLPort = "";
    std::string SQLDatabase;
    std::string SQLUsername;
    std::string SQLPasswort;
    std::string SQLTBLPrefix;
    std::string SQLTBLPrefixHistory;
    bool BlockInvalidUser = true;
    std::string BlockInvalidUserCount = "1";
    std::string BlockInvalidUserInterval = "120";
    std::string BlockHoneypotInterval = "120";
    std::string AbuseReportRDPURL;
    std::string AbuseKEY;
    bool Report = true;
    // Addresses and CIDR ranges that are never blocked, separated by commas or blanks.
    std::string AllowList;
    // Where failed logons are read: "eventlog", "channel" or "xrdp[:PATH]"; empty: the platform's own.
    std::string EventSource;
    // Empty until a configuration load read it: a pass never writes an empty LastRecord, so a
    // pass before any load cannot erase the mark in the file (nor start over as a first run).
    std::string LastRecord;
    std::string Time = "5";
};

// The one live record `Settings`. The configuration dialog edits it on the UI thread while
// honeypot threads read it, so every access copies the value under a lock.
class Settings {
public:
    template <typename T> T get(T SettingsValues::*field) const {
        std::lock_guard lock(m_mutex);
        return m_values.*field;
    }
    template <typename T, typename V> void set(T SettingsValues::*field, V&& value) {
        std::lock_guard lock(m_mutex);
        m_values.*field = std::forward<V>(value);
    }
    SettingsValues snapshot() const {
        std::lock_guard lock(m_mutex);
        return m_values;
    }
    void assign(const SettingsValues& values) {
        std::lock_guard lock(m_mutex);
        m_values = values;
    }

private:
    mutable std::mutex m_mutex;
    SettingsValues m_values;
};

} // namespace ostrel
