#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrel {

// Texts from outside (event records, peers, servers) made safe to show in a log line.

// Control characters shown as escapes, so that no outside text can break a log line into two
// or rearrange what the operator reads: "\n", "\r" and "\t" for those three, "\xHH" for the
// other C0 controls and DEL, "\uHHHH" for the C1 controls, the line and paragraph separators
// and the bidirectional embedding, override and isolate controls. Backslashes stay as they
// are (Windows names hold them). Bytes that are no valid UTF-8 pass unchanged.
std::string escapeControlCharacters(std::string_view text);

// The text cut to at most `maxCharacters` characters (UTF-8 code points); a cut text ends in
// " ... [N bytes in all]", so the operator sees how much there was.
std::string cutForLog(std::string_view text, std::size_t maxCharacters);

} // namespace ostrel
