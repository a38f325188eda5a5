#pragma once

#include <string>
#include <vector>

namespace ostrel::platform {

// One argument quoted so that CommandLineToArgvW and the C runtime read it back unchanged:
// as it is when it has no blank, tab or quote, otherwise in quotes with its quotes and the
// backslashes before them escaped.
std::wstring quotedArgument(const std::wstring& argument);

// The command line of a program and its arguments, each quoted as needed.
std::wstring commandLine(const std::wstring& program, const std::vector<std::wstring>& arguments);

} // namespace ostrel::platform
