#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// True for 127.0.0.0/8, ::1 and IPv4-mapped loopback.
bool isLoopbackAddress(const std::string& text);
// The one text of an address, so that every spelling of it is stored, counted, blocked and
// released as one: surrounding blanks trimmed, IPv4 in dotted decimal without leading zeros,
// an IPv4-mapped IPv6 address as its IPv4 address, IPv6 compressed in lower case. nullopt for
// a text that is no IPv4 or IPv6 address.
std::optional<std::string> canonicalAddress(const std::string& text);
// False for an address that names no single host: unspecified (0.0.0.0/8, ::), the limited
// broadcast 255.255.255.255, and multicast (224.0.0.0/4, ff00::/8). Such an address never
// sends a logon, and a rule for it would block nobody or everybody.
bool isSingleHostAddress(const std::string& text);
// True for an address that one of this machine's interfaces holds (in the calling thread's
// network namespace, as ownAddresses sees them): blocking it would cut the machine off from
// itself like loopback.
bool isOwnAddress(const std::string& text);

} // namespace ostrel::platform
