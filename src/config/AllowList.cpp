#include "config/AllowList.h"

#include "platform/portable/Addresses.h"
#include "settings/Settings.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace ostrel {
namespace {

using Address = platform::AddressBytes;

constexpr int MappedPrefix = 96; // ::ffff:0:0/96 holds the IPv4 addresses

// A decimal number of at most `maxDigits` digits, the whole text.
std::optional<int> decimal(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits)
        return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

struct Parsed {
    Address address;
    bool ipv4; // written as IPv4, so that a prefix length counts in its 32 bits
};

std::optional<Parsed> parseAddress(std::string_view text) {
    if (const std::optional<Address> bytes = platform::addressBytes(std::string(text)))
        return Parsed{*bytes, text.find(':') == std::string_view::npos};
    return std::nullopt;
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
    const std::optional<Parsed> parsed = parseAddress(address);
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
