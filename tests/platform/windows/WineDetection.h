#pragma once

#include "platform/windows/WindowsApi.h"

namespace ostrel::test {

// True when the test runs under Wine, which exports wine_get_version from its ntdll. Tests use
// it only to say what a Wine stub can show; never to let a stub pass for Windows.
inline bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace ostrel::test
