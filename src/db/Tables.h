#pragma once

#include <string>

namespace ostrel {

class Settings;

// The table names of this moment: prefix + suffix. A prefix may hold only the
// characters of a plain identifier ([A-Za-z0-9_$]); anything else raises
// EInvalidIdentifier, since the prefix stands unquoted in every statement.
struct Tables {
    std::string merkliste;
    std::string firewall;
    std::string firewall_history;
    // The newest event record whose sightings are stored, under SQLTBLPrefix: written in the
    // same transaction as those sightings, so a store whose outcome was never seen is not
    // made twice.
    std::string lastrecord;
    // The count of changes to the active blocks, under SQLTBLPrefix: every block, extension and
    // release adds one with its change, so a guard sees whether the active rows may differ from
    // those its firewall agreed with without reading them.
    std::string firewallchanges;

    static Tables fromSettings(const Settings& settings);
    static Tables fromPrefixes(const std::string& prefix, const std::string& historyPrefix);
};

// Checks a prefix; raises EInvalidIdentifier naming it when it is not a plain identifier.
void requirePlainPrefix(const std::string& prefix, const char* settingName);

} // namespace ostrel
