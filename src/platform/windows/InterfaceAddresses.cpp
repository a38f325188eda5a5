#include "platform/InterfaceAddresses.h"

#include "platform/portable/Addresses.h"
#include "platform/windows/WindowsApi.h"

#include <cstddef>
#include <iphlpapi.h>
#include <optional>

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

} // namespace ostrel::platform
