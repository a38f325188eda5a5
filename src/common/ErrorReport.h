#pragma once

#include <exception>
#include <string>

namespace ostrel {

// The title of every message box of the program.
inline constexpr const char* ApplicationTitle = "RDP-Ostrel";

// The text the general error report shows for an error: the message of the innermost error
// when errors wrap one another, with a full stop added when its last character sorts after
// "." in character order.
std::string errorReportText(const std::exception_ptr& error);

// The message with that full-stop rule applied.
std::string withClosingFullStop(std::string message);

} // namespace ostrel
