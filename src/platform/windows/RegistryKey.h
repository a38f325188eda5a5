#pragma once

#include "platform/windows/WindowsApi.h"

#include <memory>
#include <optional>
#include <type_traits>

namespace ostrel::platform {

// The key below HKEY_LOCAL_MACHINE that makes the Remote Desktop channel known to the event
// log service, and so to WMI. The "/" is an ordinary character of the last key's name.
inline constexpr const wchar_t* EventChannelKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Microsoft-Windows-RemoteDesktopServices-RdpCoreTS/Operational";

struct RegistryKeyClose {
    void operator()(HKEY key) const { ::RegCloseKey(key); }
};
// Owns one open registry key and closes it on every path.
using RegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyClose>;

// Opens the key below HKEY_LOCAL_MACHINE with full access, creating it when it does not exist;
// nullopt when either is refused (for example without administrator rights).
std::optional<RegistryKey> openOrCreateMachineKey(const wchar_t* path);

} // namespace ostrel::platform
