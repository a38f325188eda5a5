#include "common/Errors.h"
#include "platform/Addresses.h"
#include "platform/platform.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netinet/in.h>
#include <system_error>
#include <unistd.h>

namespace ostrel::platform {
namespace {

struct InterfaceListRelease {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};
using InterfaceList = std::unique_ptr<ifaddrs, InterfaceListRelease>;

} // namespace

std::filesystem::path executableFolder() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        throw EInOutError("Cannot find the program's own file: " + error.message());
    return executable.parent_path();
}

std::filesystem::path eventlogFolder() {
    return executableFolder() / "Eventlog";
}

std::unique_ptr<EventSource> makeEventSource(const std::filesystem::path& channelFolder) {
    return std::make_unique<ChannelFileSource>(channelFolder);
}

bool probeEventChannel(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error))
        return false;
    // Root passes every permission check; access() still reports a read-only file system.
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

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

ComScope::ComScope() = default;
ComScope::~ComScope() = default;

std::tm localTime(std::time_t moment) {
    std::tm local{};
    ::localtime_r(&moment, &local);
    return local;
}

bool isOwnAddress(const std::string& text) {
    const auto literal = parseIpLiteral(text);
    if (!literal)
        return false;
    ifaddrs* first = nullptr;
    if (::getifaddrs(&first) != 0)
        return false;
    const InterfaceList interfaces(first);
    for (const ifaddrs* entry = first; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr)
            continue;
        char own[INET6_ADDRSTRLEN] = {};
        const int family = entry->ifa_addr->sa_family;
        const void* address = nullptr;
        if (family == AF_INET && literal->family == AddressFamily::IPv4)
            address = &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
        else if (family == AF_INET6 && literal->family == AddressFamily::IPv6)
            address = &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr;
        // Both sides in inet_ntop's spelling, so "2001:DB8::1" meets "2001:db8::1".
        if (address && ::inet_ntop(family, address, own, sizeof own) && literal->text == own)
            return true;
    }
    return false;
}

} // namespace ostrel::platform
