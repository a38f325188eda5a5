#include "common/Errors.h"
#include "platform/Addresses.h"
#include "platform/platform.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/WideText.h"
#include "platform/windows/WindowsApi.h"
#include "platform/windows/WmiEventSource.h"

#include <cstdlib>
#include <iphlpapi.h>
#include <memory>
#include <vector>

namespace ostrel::platform {
namespace {

// The adapters with their unicast addresses of one family (AF_UNSPEC: both); empty when the
// system cannot tell, which the callers treat as "no address".
std::vector<std::byte> adapterList(ULONG family) {
    constexpr ULONG Flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    std::vector<std::byte> buffer;
    for (int attempt = 0; attempt < 4; ++attempt) {
        buffer.resize(size);
        const ULONG result = ::GetAdaptersAddresses(family, Flags, nullptr,
                                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        if (result == NO_ERROR)
            return buffer;
        if (result != ERROR_BUFFER_OVERFLOW)
            break;
    }
    return {};
}

const IP_ADAPTER_ADDRESSES* firstAdapter(const std::vector<std::byte>& list) {
    return list.empty() ? nullptr : reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(list.data());
}

std::string addressText(const SOCKET_ADDRESS& address) {
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* socketAddress = address.lpSockaddr;
    if (!socketAddress)
        return {};
    const void* raw = nullptr;
    if (socketAddress->sa_family == AF_INET)
        raw = &reinterpret_cast<const sockaddr_in*>(socketAddress)->sin_addr;
    else if (socketAddress->sa_family == AF_INET6)
        raw = &reinterpret_cast<const sockaddr_in6*>(socketAddress)->sin6_addr;
    if (!raw || !::inet_ntop(socketAddress->sa_family, raw, text, sizeof text))
        return {};
    return text;
}

} // namespace

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

std::unique_ptr<EventSource> makeEventSource(const std::filesystem::path&) {
    return std::make_unique<WmiEventSource>();
}

std::filesystem::path channelClaimFile(const std::filesystem::path&) {
    // The event log is the machine's, so is the claim: a folder every account of the machine
    // reaches, the service's and the operator's alike.
    const wchar_t* programData = ::_wgetenv(L"ProgramData");
    const std::filesystem::path folder = programData ? std::filesystem::path(programData) : executableFolder();
    return folder / "RDP-Ostrel" / "RdpCoreTS-Operational.guard";
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

std::string AdapterIPAddress() {
    const std::vector<std::byte> list = adapterList(AF_INET);
    for (const IP_ADAPTER_ADDRESSES* adapter = firstAdapter(list); adapter; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast;
             unicast = unicast->Next) {
            std::string text = addressText(unicast->Address);
            if (!text.empty() && !isLoopbackAddress(text))
                return text;
        }
    }
    return {};
}

std::vector<std::string> ownAddresses() {
    std::vector<std::string> addresses;
    const std::vector<std::byte> list = adapterList(AF_UNSPEC);
    for (const IP_ADAPTER_ADDRESSES* adapter = firstAdapter(list); adapter; adapter = adapter->Next)
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next)
            if (std::optional<std::string> canonical = canonicalAddress(addressText(unicast->Address)))
                addresses.push_back(std::move(*canonical));
    return addresses;
}

std::tm localTime(std::time_t moment) {
    std::tm local{};
    ::localtime_s(&local, &moment);
    return local;
}

} // namespace ostrel::platform
