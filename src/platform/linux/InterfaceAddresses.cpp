#include "platform/InterfaceAddresses.h"

#include "platform/portable/Addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>

namespace ostrel::platform {
namespace {

struct InterfaceListRelease {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};
using InterfaceList = std::unique_ptr<ifaddrs, InterfaceListRelease>;

} // namespace

std::string AdapterIPAddress() {
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0)
        return {};
    const InterfaceList interfaces(first);
    for (const ifaddrs* entry = first; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET)
            continue;
        if (!(entry->ifa_flags & IFF_UP) || (entry->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text))
            return text;
    }
    return {};
}

std::vector<std::string> ownAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0)
        return addresses;
    const InterfaceList interfaces(first);
    for (const ifaddrs* entry = first; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr)
            continue;
        char own[INET6_ADDRSTRLEN] = {};
        const int family = entry->ifa_addr->sa_family;
        const void* address = nullptr;
        if (family == AF_INET)
            address = &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        else if (family == AF_INET6)
            address = &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr;
        if (address && ::inet_ntop(family, address, own, sizeof own))
            if (std::optional<std::string> canonical = canonicalAddress(own))
                addresses.push_back(std::move(*canonical));
    }
    return addresses;
}

} // namespace ostrel::platform
