#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace ostrel {

// The text of a log line: the local date in the user's short form, one blank and the
// local time in the user's long form (both as the C library gives them under LC_TIME),
// directly followed by the message. At exactly midnight the time and its blank are
// left out. Every line is formed here, so this is where control characters of outside
// texts inside the message are escaped: one message stays one line. The moment comes as its
// calendar time in the local time zone (the caller asks the platform for it) and how far it
// lies past that second, so this floor stays free of the operating system.
std::string formatLogLine(const std::tm& local, std::chrono::nanoseconds sinceSecond, const std::string& message);

// Takes the user's regional formats for the log lines' date and time (and everything else
// the C library formats), but keeps numbers in text in the one form every reader expects.
// Called once at program start, before any thread runs.
void useRegionalFormats();

} // namespace ostrel
