#include "platform/windows/CommandLine.h"

namespace ostrel::platform {

std::wstring quotedArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // Before the closing quote every backslash is doubled, so that the quote stays a quote.
    quoted.append(2 * backslashes, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring commandLine(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring line = quotedArgument(program);
    for (const std::wstring& argument : arguments)
        line += L' ' + quotedArgument(argument);
    return line;
}

} // namespace ostrel::platform
