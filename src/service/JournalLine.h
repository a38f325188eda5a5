#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace ostrel {

// The priority a service's line carries for journald: the "<N>" prefix of sd-daemon(3), which
// journald takes off and keeps as the line's priority (so `journalctl -p err` finds errors).
enum class JournalLevel { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// The level of a log message, by its kind: errors (an error's type and text, a failed
// connection, a failed write or firewall change, a failed abuse report), warnings (refusals
// and ignored values), notices (blocks, releases, start and stop), everything else info.
JournalLevel journalLevel(const std::string& message);

// "<N>", the prefix of a line of that level.
std::string journalPrefix(JournalLevel level);

// ISO 8601 local time with milliseconds and the zone's offset, "2026-12-11T01:02:03.456+01:00".
std::string isoTime(std::chrono::system_clock::time_point when);

// The line with every secret replaced by "***": wherever it follows "KEY=" (the abuse report's
// address), and anywhere when it has eight characters or more. No line of the program's own
// holds the password; this keeps one that quotes a server's or a library's text from showing it.
std::string withoutSecrets(std::string line, const std::vector<std::string>& secrets);

} // namespace ostrel
