#include "platform/windows/RegistryKey.h"

namespace ostrel::platform {

std::optional<RegistryKey> openOrCreateMachineKey(const wchar_t* path) {
    HKEY key = nullptr;
    const LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    return RegistryKey(key);
}

} // namespace ostrel::platform
