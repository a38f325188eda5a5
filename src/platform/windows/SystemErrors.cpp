#include "platform/windows/SystemErrors.h"

#include "platform/windows/WideText.h"
#include "platform/windows/WindowsApi.h"

#include <cstdio>
#include <memory>

namespace ostrel::platform {
namespace {

struct LocalRelease {
    void operator()(wchar_t* text) const { ::LocalFree(text); }
};

std::string messageFrom(DWORD source, HMODULE module, std::uint32_t code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(source | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, module, code,
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const std::unique_ptr<wchar_t, LocalRelease> owned(buffer);
    if (length == 0 || !buffer)
        return {};
    std::wstring_view text(buffer, length);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.remove_suffix(1);
    return toUtf8(text);
}

// WMI keeps the texts of its codes (facility ITF, 0x8004xxxx) in a module of its own.
std::string wmiMessage(std::uint32_t code) {
    const HMODULE module = ::LoadLibraryExW(L"wmiutils.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return {};
    std::string text = messageFrom(FORMAT_MESSAGE_FROM_HMODULE, module, code);
    ::FreeLibrary(module);
    return text;
}

} // namespace

std::string hexCode(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::string systemMessage(std::uint32_t code) {
    std::string text = messageFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    if (text.empty() && HRESULT_FACILITY(code) == FACILITY_ITF)
        text = wmiMessage(code);
    return text.empty() ? "Unknown error " + hexCode(code) : text;
}

EOleException comError(const std::string& call, long hresult) {
    const auto code = static_cast<std::uint32_t>(hresult);
    return EOleException(call + ": " + systemMessage(code), static_cast<std::int32_t>(code));
}

void checkCom(long hresult, const char* call) {
    if (FAILED(hresult))
        throw comError(call, hresult);
}

std::string failureText(const std::string& what, std::uint32_t code) {
    // Win32 and Winsock codes are small and known by their decimal numbers, HRESULTs by their hex.
    const std::string number = code <= 0xFFFF ? std::to_string(code) : hexCode(code);
    return what + ": " + systemMessage(code) + " (" + number + ")";
}

} // namespace ostrel::platform
