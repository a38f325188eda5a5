#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace ostrel::platform {

enum class AddressFamily { IPv4, IPv6 };

// An address literal in the one spelling the system writes into firewall scripts.
struct IpLiteral {
    AddressFamily family = AddressFamily::IPv4;
    std::string text; // as inet_ntop writes it; an IPv4-mapped IPv6 address becomes its IPv4 address
};

// The literal behind the text, or nullopt when the text is not exactly an IPv4 or IPv6
// literal (no blanks, no zone, no host name).
std::optional<IpLiteral> parseIpLiteral(const std::string& text);

// An address as its sixteen bytes in network order, an IPv4 address as its IPv4-mapped IPv6
// form, so that every spelling of one address compares equal.
using AddressBytes = std::array<std::uint8_t, 16>;

// The bytes of any text canonicalAddress takes; nullopt for a text that is no address.
std::optional<AddressBytes> addressBytes(const std::string& text);

} // namespace ostrel::platform
