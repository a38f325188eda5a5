#include "db/Tables.h"

#include "common/Errors.h"
#include "settings/Settings.h"

#include <algorithm>

namespace ostrel {

void requirePlainPrefix(const std::string& prefix, const char* settingName) {
    const bool plain = std::all_of(prefix.begin(), prefix.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
    });
    if (!plain)
        throw EInvalidIdentifier(std::string("The table prefix '") + prefix + "' (" + settingName +
                                 ") may hold only letters, digits, '_' and '$'");
}

Tables Tables::fromPrefixes(const std::string& prefix, const std::string& historyPrefix) {
    requirePlainPrefix(prefix, "SQLTBLPrefix");
    requirePlainPrefix(historyPrefix, "SQLTBLPrefixHistory");
    return Tables{prefix + "merkliste", prefix + "firewall", historyPrefix + "firewall_history", prefix + "lastrecord",
                  prefix + "firewallchanges"};
}

Tables Tables::fromSettings(const Settings& settings) {
    return fromPrefixes(settings.get(&SettingsValues::SQLTBLPrefix),
                        settings.get(&SettingsValues::SQLTBLPrefixHistory));
}

} // namespace ostrel
