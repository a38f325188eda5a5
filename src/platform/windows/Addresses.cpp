#include "platform/Addresses.h"

#include "platform/platform.h"
#include "platform/windows/WindowsApi.h"

#include <cstring>

namespace ostrel::platform {
namespace {

std::string textOf(int family, const void* address) {
    char text[INET6_ADDRSTRLEN];
    return ::inet_ntop(family, address, text, sizeof text) ? std::string(text) : std::string();
}

// inet_pton reads up to the first NUL; a text with one inside is more than an address.
bool hasNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

} // namespace

std::optional<IpLiteral> parseIpLiteral(const std::string& text) {
    if (hasNul(text))
        return std::nullopt;
    in_addr v4{};
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1)
        return IpLiteral{AddressFamily::IPv4, textOf(AF_INET, &v4)};
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.c_str(), &v6) != 1)
        return std::nullopt;
    // An IPv4 client reaches the input hook as IPv4 even on a dual-stack socket, so only
    // the IPv4 set can block it.
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        std::memcpy(&v4, &v6.s6_addr[12], sizeof v4);
        return IpLiteral{AddressFamily::IPv4, textOf(AF_INET, &v4)};
    }
    return IpLiteral{AddressFamily::IPv6, textOf(AF_INET6, &v6)};
}

bool isIpLiteral(const std::string& text) {
    return parseIpLiteral(text).has_value();
}

bool isIPv6Literal(const std::string& text) {
    in6_addr v6{};
    return !hasNul(text) && ::inet_pton(AF_INET6, text.c_str(), &v6) == 1;
}

bool isLoopbackAddress(const std::string& text) {
    const auto literal = parseIpLiteral(text);
    if (!literal)
        return false;
    if (literal->family == AddressFamily::IPv6)
        return literal->text == "::1";
    return literal->text.starts_with("127.");
}

} // namespace ostrel::platform
