#include "service/JournalLine.h"

#include "platform/System.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <utility>

namespace ostrel {
namespace {

// Shorter secrets would mask ordinary words of the log ("ostrel" in the program's own name).
constexpr std::size_t MinimumMaskedLength = 8;

struct LevelRule {
    std::string_view text;
    bool prefix; // the message begins with the text; otherwise it holds it anywhere
    JournalLevel level;
};

// First match counts, so the more particular rules come first.
constexpr std::array<LevelRule, 16> Rules{{
    {" - Firewall: refused", true, JournalLevel::Warning},
    {" - Firewall: ", true, JournalLevel::Error},
    {" - Database connection FAILED", true, JournalLevel::Error},
    {" - Ausnahme aufgetreten: ", true, JournalLevel::Error},
    {" - Fehlermeldung: ", true, JournalLevel::Error},
    {" - Cannot ", true, JournalLevel::Error},
    {" - Abuse report", true, JournalLevel::Warning},
    {"not blocked.", false, JournalLevel::Warning},
    {" - ignored.", false, JournalLevel::Warning},
    {" - Tables without transactions", true, JournalLevel::Warning},
    {" is blocked for ", false, JournalLevel::Notice},
    {" - Blocktime extendet by ", false, JournalLevel::Notice},
    {" - Firewallentry ", true, JournalLevel::Notice},
    {" - rdp-ostrel-service ", true, JournalLevel::Notice},
    {" - Rule ", true, JournalLevel::Notice},
    {" - Honeypot on ", true, JournalLevel::Notice},
}};

// An error's own line: " " + its type name ("EDatabaseError", ...) + ":" + its text.
bool isErrorLine(const std::string& message) {
    if (message.size() < 3 || message[0] != ' ' || message[1] != 'E')
        return false;
    std::size_t i = 2;
    while (i < message.size() && ((message[i] >= 'A' && message[i] <= 'Z') || (message[i] >= 'a' && message[i] <= 'z')))
        ++i;
    return i > 2 && i < message.size() && message[i] == ':';
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian), as H. Hinnant gives it.
std::tm utcTime(std::time_t seconds) {
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::tm utc{};
    utc.tm_year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0) - 1900);
    utc.tm_mon = static_cast<int>(month - 1);
    utc.tm_mday = static_cast<int>(day);
    utc.tm_hour = static_cast<int>(rest / 3600);
    utc.tm_min = static_cast<int>(rest % 3600 / 60);
    utc.tm_sec = static_cast<int>(rest % 60);
    return utc;
}

// Seconds east of UTC: local time against UTC of the same moment (no tm_gmtoff on Windows).
long offsetSeconds(const std::tm& local, const std::tm& utc) {
    const auto dayNumber = [](const std::tm& t) {
        return std::int64_t{t.tm_year} * 400 + t.tm_mon * 32 + t.tm_mday; // only compared, never counted
    };
    const std::int64_t localDay = dayNumber(local), utcDay = dayNumber(utc);
    const long days = localDay == utcDay ? 0 : (localDay > utcDay ? 1 : -1);
    return days * 86400 + (local.tm_hour - utc.tm_hour) * 3600L + (local.tm_min - utc.tm_min) * 60L +
           (local.tm_sec - utc.tm_sec);
}

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

} // namespace

JournalLevel journalLevel(const std::string& message) {
    if (isErrorLine(message))
        return JournalLevel::Error;
    for (const LevelRule& rule : Rules) {
        const bool matches = rule.prefix ? std::string_view(message).starts_with(rule.text)
                                         : message.find(rule.text) != std::string::npos;
        if (matches)
            return rule.level;
    }
    return JournalLevel::Info;
}

std::string journalPrefix(JournalLevel level) {
    return "<" + std::to_string(static_cast<int>(level)) + ">";
}

std::string isoTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const std::tm local = platform::localTime(seconds);
    const long offset = offsetSeconds(local, utcTime(seconds));
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(when - std::chrono::system_clock::from_time_t(seconds))
            .count();
    const long magnitude = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(milliseconds < 0 ? 0 : milliseconds), offset < 0 ? '-' : '+', magnitude / 3600,
                  magnitude % 3600 / 60);
    return text;
}

std::string withoutSecrets(std::string line, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets) {
        if (secret.empty())
            continue;
        replaceAll(line, "KEY=" + secret, "KEY=***");
        if (secret.size() >= MinimumMaskedLength)
            replaceAll(line, secret, "***");
    }
    return line;
}

} // namespace ostrel
