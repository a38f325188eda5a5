#include "common/Errors.h"
#include "platform/Addresses.h"
#include "platform/platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
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

std::unique_ptr<EventSource> makeEventSource(const std::filesystem::path& channelFolder) {
    return std::make_unique<ChannelFileSource>(channelFolder);
}

std::filesystem::path channelClaimFile(const std::filesystem::path& channelFolder) {
    // Beside the channel file: whoever reads that file shares the one claim.
    std::filesystem::path file = ChannelFileSource::fileFor(channelFolder, RdpChannel);
    file += ".guard";
    return file;
}

std::string machineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        throw EInOutError(std::string("Cannot read the machine's name: ") + std::strerror(errno));
    return name;
}

std::uint32_t currentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
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
