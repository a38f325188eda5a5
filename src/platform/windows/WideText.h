#pragma once

#include <string>
#include <string_view>

namespace ostrel::platform {

// The program keeps text in UTF-8; Windows APIs take UTF-16. These convert at the call, and
// only there. Invalid sequences become U+FFFD rather than failing the call.
std::wstring toUtf16(std::string_view text);
std::string toUtf8(std::wstring_view text);

} // namespace ostrel::platform
