#include "platform/System.h"

#include "common/Errors.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WindowsApi.h"

namespace ostrel::platform {

std::filesystem::path executableFolder() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0)
            throw EInOutError(failureText("Cannot find the program's own file", ::GetLastError()));
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2); // the name was cut short
    }
}

std::string machineName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &length))
        throw EInOutError(failureText("Cannot read the machine's name", ::GetLastError()));
    return toUtf8(std::wstring(name, length));
}

std::uint32_t currentProcessId() {
    return static_cast<std::uint32_t>(::GetCurrentProcessId());
}

std::tm localTime(std::time_t moment) {
    std::tm local{};
    ::localtime_s(&local, &moment);
    return local;
}

} // namespace ostrel::platform
