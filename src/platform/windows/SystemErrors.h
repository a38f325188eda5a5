#pragma once

#include "common/Errors.h"

#include <cstdint>
#include <string>

namespace ostrel::platform {

// The text Windows gives for an error code (a GetLastError() value, a Winsock error or an
// HRESULT), as FormatMessageW writes it, without its closing line break. WMI's own codes are
// looked up in WMI's message table. "Unknown error 0x..." when nobody knows the code.
std::string systemMessage(std::uint32_t code);

// "0x8007000E": an error code as the system's tools show it.
std::string hexCode(std::uint32_t code);

// The error of a failed COM call: "<call>: <system text>" with the HRESULT as its code.
EOleException comError(const std::string& call, long hresult);

// Raises comError when the HRESULT tells a failure.
void checkCom(long hresult, const char* call);

// "<what>: <system text> (<code>)" for a failed Win32 or Winsock call.
std::string failureText(const std::string& what, std::uint32_t code);

} // namespace ostrel::platform
