#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel {

// Converts a decimal whole number the way every reader of a number setting does:
// optional blanks around, an optional sign, digits, within 32 bits (also "$1F" hex,
// as the classic conversion allows). Anything else raises EConvertError with
// "'<text>' ist kein gültiger Integerwert".
std::int32_t StrToInt(std::string_view text);

// The same within 64 bits: event record numbers (LastRecord) grow past 32 bits.
std::int64_t StrToInt64(std::string_view text);

// The conversion error's message for a text.
std::string notAnIntegerMessage(std::string_view text);

} // namespace ostrel
