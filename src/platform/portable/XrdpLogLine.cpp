#include "platform/portable/XrdpLogLine.h"

#include "platform/portable/Addresses.h"

namespace ostrel::platform {
namespace {

constexpr std::string_view FailedLogonTag = "AUTHFAIL: ";
constexpr std::string_view AddressField = " ip=";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// "203.0.113.5:52144" and "[2001:db8::5]:52144": an address with the client's port after it.
std::optional<std::string> withoutPort(std::string_view value) {
    if (value.starts_with('[')) {
        const auto close = value.find(']');
        if (close != std::string_view::npos)
            return canonicalAddress(std::string(value.substr(1, close - 1)));
        return std::nullopt;
    }
    const auto colon = value.rfind(':');
    if (colon == std::string_view::npos || value.find(':') != colon)
        return std::nullopt; // an IPv6 literal has several: it was tried whole already
    return canonicalAddress(std::string(value.substr(0, colon)));
}

} // namespace

XrdpLogLine readXrdpLogLine(std::string_view line) {
    // The session manager writes "[<time>] [<level>] AUTHFAIL: user=<name> ip=<address> time=<seconds>".
    // The message must begin right after the level: a user name in another message could hold
    // the tag and an address of the client's choosing.
    if (!line.starts_with('['))
        return {};
    const auto level = line.find("] [");
    const auto message = level == std::string_view::npos ? level : line.find("] ", level + 3);
    if (message == std::string_view::npos || !line.substr(message + 2).starts_with(FailedLogonTag))
        return {};
    const std::string_view fields = line.substr(message + 2 + FailedLogonTag.size());
    const auto field = fields.rfind(AddressField);
    if (field == std::string_view::npos)
        return {XrdpLogLine::Kind::UnreadableLogon, {}};
    std::string_view value = fields.substr(field + AddressField.size());
    std::size_t length = 0;
    while (length < value.size() && !isBlank(value[length]))
        ++length;
    value = value.substr(0, length);
    std::optional<std::string> address = canonicalAddress(std::string(value));
    if (!address)
        address = withoutPort(value);
    if (!address)
        return {XrdpLogLine::Kind::UnreadableLogon, {}};
    return {XrdpLogLine::Kind::FailedLogon, std::move(*address)};
}

} // namespace ostrel::platform
