#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

// What the program asks of the system about itself: where it lives, the machine and process it
// runs as, and the local time.
namespace ostrel::platform {

// The folder of the running executable (Config.ini and Eventlog live there).
std::filesystem::path executableFolder();

// The machine's own name (its host name), under which its guard keeps its mark.
std::string machineName();

// The id of the running process, as the system's process list shows it.
std::uint32_t currentProcessId();

// The calendar time of a moment in the local time zone (the C library's localtime, safe in
// every thread).
std::tm localTime(std::time_t moment);

} // namespace ostrel::platform
