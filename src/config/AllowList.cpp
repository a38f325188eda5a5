#include "config/AllowList.h"

#include "config/Settings.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace ostrel {
namespace {

using Address = std::array<std::uint8_t, 16>;

constexpr int MappedPrefix = 96; // ::ffff:0:0/96 holds the IPv4 addresses

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A decimal number of at most `maxDigits` digits, the whole text.
std::optional<int> decimal(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (!isDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Dotted decimal, four parts of 0 to 255.
std::optional<std::array<std::uint8_t, 4>> parseIPv4(std::string_view text) {
    std::array<std::uint8_t, 4> bytes{};
    for (std::size_t part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos)
            return std::nullopt;
        const std::optional<int> value = decimal(text.substr(0, dot), 3);
        if (!value || *value > 255)
            return std::nullopt;
        bytes[part] = static_cast<std::uint8_t>(*value);
        text.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return bytes;
}

Address mapped(const std::array<std::uint8_t, 4>& v4) {
    Address address{};
    address[10] = address[11] = 0xff;
    for (std::size_t i = 0; i < 4; ++i)
        address[12 + i] = v4[i];
    return address;
}

// Groups of one to four hex digits separated by ':'; the last may be dotted IPv4 (two groups).
// Appends them to `groups`; false for anything else.
bool parseGroups(std::string_view text, bool mayEndInIPv4, std::vector<std::uint16_t>& groups) {
    if (text.empty())
        return true;
    for (;;) {
        const std::size_t colon = text.find(':');
        const std::string_view group = text.substr(0, colon);
        if (colon == std::string_view::npos && mayEndInIPv4 && group.find('.') != std::string_view::npos) {
            const auto v4 = parseIPv4(group);
            if (!v4)
                return false;
            groups.push_back(static_cast<std::uint16_t>((*v4)[0] << 8 | (*v4)[1]));
            groups.push_back(static_cast<std::uint16_t>((*v4)[2] << 8 | (*v4)[3]));
            return true;
        }
        if (group.empty() || group.size() > 4)
            return false;
        std::uint16_t value = 0;
        for (char c : group) {
            const int digit = hexValue(c);
            if (digit < 0)
                return false;
            value = static_cast<std::uint16_t>(value << 4 | digit);
        }
        groups.push_back(value);
        if (colon == std::string_view::npos)
            return true;
        text.remove_prefix(colon + 1);
    }
}

// Eight groups, or fewer with one "::" standing for the missing zero groups.
std::optional<Address> parseIPv6(std::string_view text) {
    std::vector<std::uint16_t> head;
    std::vector<std::uint16_t> tail;
    const std::size_t gap = text.find("::");
    if (gap == std::string_view::npos) {
        if (!parseGroups(text, true, head) || head.size() != 8)
            return std::nullopt;
    } else {
        const std::string_view after = text.substr(gap + 2);
        if (after.find("::") != std::string_view::npos || !parseGroups(text.substr(0, gap), false, head) ||
            !parseGroups(after, true, tail) || head.size() + tail.size() > 7)
            return std::nullopt;
    }
    Address address{};
    std::size_t byte = 0;
    const auto put = [&](std::uint16_t group) {
        address[byte++] = static_cast<std::uint8_t>(group >> 8);
        address[byte++] = static_cast<std::uint8_t>(group & 0xff);
    };
    for (std::uint16_t group : head)
        put(group);
    byte = 16 - 2 * tail.size();
    for (std::uint16_t group : tail)
        put(group);
    return address;
}

struct Parsed {
    Address address;
    bool ipv4;
};

std::optional<Parsed> parseAddress(std::string_view text) {
    if (text.find(':') != std::string_view::npos) {
        if (const auto v6 = parseIPv6(text))
            return Parsed{*v6, false};
        return std::nullopt;
    }
    if (const auto v4 = parseIPv4(text))
        return Parsed{mapped(*v4), true};
    return std::nullopt;
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool inRange(const Address& address, const Address& network, int prefixLength) {
    for (int bit = 0; bit < prefixLength; bit += 8) {
        const int bits = prefixLength - bit < 8 ? prefixLength - bit : 8;
        const auto mask = static_cast<std::uint8_t>(0xff << (8 - bits));
        if ((address[bit / 8] & mask) != (network[bit / 8] & mask))
            return false;
    }
    return true;
}

} // namespace

AllowList AllowList::parse(const std::string& text) {
    AllowList list;
    constexpr std::string_view separators = ", \t\r\n";
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(separators);
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        const std::string_view entry = rest.substr(0, rest.find_first_of(separators));
        rest.remove_prefix(entry.size());

        const std::size_t slash = entry.find('/');
        const std::optional<Parsed> parsed = parseAddress(entry.substr(0, slash));
        const int width = parsed && parsed->ipv4 ? 32 : 128;
        const std::optional<int> length =
            slash == std::string_view::npos ? std::optional<int>(width) : decimal(entry.substr(slash + 1), 3);
        if (!parsed || !length || *length > width)
            list.m_invalid.emplace_back(entry);
        else
            list.m_ranges.push_back({parsed->address, parsed->ipv4 ? MappedPrefix + *length : *length});
    }
    return list;
}

bool AllowList::allows(const std::string& address) const {
    const std::optional<Parsed> parsed = parseAddress(trimmed(address));
    if (!parsed)
        return false;
    for (const Range& range : m_ranges)
        if (inRange(parsed->address, range.address, range.prefixLength))
            return true;
    return false;
}

bool onAllowList(const Settings& settings, const std::string& address) {
    // The text is read at every block; it is parsed again only when it changed. One cache for
    // all threads: a thread_local one would need destructors at thread end, which mingw-w64 runs
    // after the thread's storage is gone.
    static std::mutex mutex;
    static std::string parsedText;
    static std::shared_ptr<const AllowList> parsedList = std::make_shared<AllowList>();
    const std::string text = settings.get(&SettingsValues::AllowList);
    std::shared_ptr<const AllowList> list;
    {
        std::lock_guard lock(mutex);
        if (text != parsedText) {
            parsedList = std::make_shared<AllowList>(AllowList::parse(text));
            parsedText = text;
        }
        list = parsedList;
    }
    return list->allows(address);
}

} // namespace ostrel
