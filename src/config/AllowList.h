#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ostrel {

class Settings;

// The addresses the operator trusts, setting `AllowList`: entries separated by commas or blanks,
// each an IPv4 or IPv6 address or a CIDR range of one ("203.0.113.0/24", "2001:db8::/32"). Matching
// goes by the parsed address, so its spelling does not count: an IPv4 address and its IPv4-mapped
// IPv6 form are one address, and IPv6 may be written compressed or not, in either case.
class AllowList {
public:
    // Every entry that is an address or a range counts; the others are kept apart for the report.
    static AllowList parse(const std::string& text);

    // Whether the address (blanks around it aside) lies in one of the entries. A text that is no
    // address lies in none.
    bool allows(const std::string& address) const;

    // The entries that are no address and no range, as written.
    const std::vector<std::string>& invalidEntries() const { return m_invalid; }

private:
    // An IPv4 address is held as its IPv4-mapped IPv6 form, its prefix length moved by 96.
    struct Range {
        std::array<std::uint8_t, 16> address;
        int prefixLength;
    };

    std::vector<Range> m_ranges;
    std::vector<std::string> m_invalid;
};

// Whether the live setting `AllowList` holds the address, read at this moment.
bool onAllowList(const Settings& settings, const std::string& address);

} // namespace ostrel
