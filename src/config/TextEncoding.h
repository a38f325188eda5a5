#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// Conversions between the program's UTF-8 texts and the encodings a settings file may use.
// Malformed UTF-8 never throws: each bad byte counts as one unrepresentable character.

// Every byte has a character, so any file read this way is written back byte for byte.
// The five bytes Windows-1252 leaves undefined become the C1 controls of the same number.
std::string windows1252ToUtf8(std::string_view bytes);
// Characters Windows-1252 cannot hold become '?'.
std::string utf8ToWindows1252(std::string_view text);

// Unpaired surrogates become U+FFFD; a trailing odd byte is dropped.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);
// Malformed UTF-8 becomes U+FFFD.
std::string utf8ToUtf16(std::string_view text, bool bigEndian);

} // namespace ostrel
