#include "platform/portable/Addresses.h"

#include "platform/InterfaceAddresses.h"
#include "platform/portable/Addresses.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

// The text forms of addresses are the same on every platform; only the headers that declare
// inet_pton and inet_ntop differ.
#ifdef _WIN32
#include "platform/windows/WindowsApi.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

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

std::string trimmed(const std::string& text) {
    constexpr const char* Blanks = " \t\r\n\v\f";
    const auto first = text.find_first_not_of(Blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(Blanks) - first + 1);
}

// Dotted decimal whose parts may carry leading zeros ("203.000.113.009"), read as decimal:
// inet_pton refuses such a text, and reading it as octal, as inet_aton would, names another host.
std::optional<std::string> paddedIPv4(const std::string& text) {
    std::string written;
    std::size_t position = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != '.')
                return std::nullopt;
            ++position;
            written += '.';
        }
        int value = 0;
        std::size_t digits = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' && digits < 3) {
            value = value * 10 + (text[position] - '0');
            ++position;
            ++digits;
        }
        if (digits == 0 || value > 255)
            return std::nullopt;
        written += std::to_string(value);
    }
    if (position != text.size())
        return std::nullopt;
    return written;
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

std::optional<std::string> canonicalAddress(const std::string& text) {
    const std::string bare = trimmed(text);
    if (auto literal = parseIpLiteral(bare))
        return std::move(literal->text);
    if (hasNul(bare))
        return std::nullopt;
    return paddedIPv4(bare);
}

bool isSingleHostAddress(const std::string& text) {
    const auto canonical = canonicalAddress(text);
    if (!canonical)
        return false;
    in_addr v4{};
    if (::inet_pton(AF_INET, canonical->c_str(), &v4) == 1) {
        const std::uint32_t address = ntohl(v4.s_addr);
        const bool unspecified = (address >> 24) == 0;
        const bool multicast = (address >> 28) == 0xE;
        const bool broadcast = address == 0xFFFFFFFFu;
        return !unspecified && !multicast && !broadcast;
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, canonical->c_str(), &v6) != 1)
        return false;
    return !IN6_IS_ADDR_UNSPECIFIED(&v6) && !IN6_IS_ADDR_MULTICAST(&v6);
}

std::optional<AddressBytes> addressBytes(const std::string& text) {
    const std::optional<std::string> canonical = canonicalAddress(text);
    if (!canonical)
        return std::nullopt;
    AddressBytes bytes{};
    in_addr v4{};
    if (::inet_pton(AF_INET, canonical->c_str(), &v4) == 1) {
        bytes[10] = bytes[11] = 0xff;
        std::memcpy(&bytes[12], &v4, sizeof v4);
        return bytes;
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, canonical->c_str(), &v6) != 1)
        return std::nullopt;
    std::memcpy(bytes.data(), &v6, sizeof v6);
    return bytes;
}

bool isLoopbackAddress(const std::string& text) {
    const auto literal = parseIpLiteral(text);
    if (!literal)
        return false;
    if (literal->family == AddressFamily::IPv6)
        return literal->text == "::1";
    return literal->text.starts_with("127.");
}

bool isOwnAddress(const std::string& text) {
    const std::optional<std::string> address = canonicalAddress(text);
    if (!address)
        return false;
    const std::vector<std::string> own = ownAddresses();
    return std::find(own.begin(), own.end(), *address) != own.end();
}

} // namespace ostrel::platform
