#include "common/Conversion.h"

#include "common/Errors.h"

#include <cctype>
#include <limits>

namespace ostrel {

namespace {

// The magnitude of a number text and its sign, within `limit` (the largest magnitude any
// text of this width may name); raises the conversion error for anything else.
struct ParsedNumber {
    std::uint64_t magnitude = 0;
    bool negative = false;
    bool hex = false;
};

ParsedNumber parseNumber(std::string_view text, std::uint64_t limit) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::size_t end = text.size();
    while (end > i && text[end - 1] == ' ')
        --end;
    ParsedNumber parsed;
    if (i < end && (text[i] == '+' || text[i] == '-'))
        parsed.negative = text[i++] == '-';
    if (i < end && text[i] == '$') {
        parsed.hex = true;
        ++i;
    } else if (i + 1 < end && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        parsed.hex = true;
        i += 2;
    }
    if (i >= end)
        throw EConvertError(notAnIntegerMessage(text));
    const std::uint64_t base = parsed.hex ? 16 : 10;
    for (; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        std::uint64_t digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (parsed.hex && std::isxdigit(c))
            digit = static_cast<std::uint64_t>(std::tolower(c) - 'a' + 10);
        else
            throw EConvertError(notAnIntegerMessage(text));
        if (parsed.magnitude > (limit - digit) / base)
            throw EConvertError(notAnIntegerMessage(text));
        parsed.magnitude = parsed.magnitude * base + digit;
    }
    return parsed;
}

// Signed value of a parsed text within the range of Int; hex texts may name the full unsigned
// range of Int's width, as the classic conversion allows.
template <typename Int> Int toSigned(std::string_view text) {
    using Unsigned = std::make_unsigned_t<Int>;
    constexpr std::uint64_t unsignedMax = std::numeric_limits<Unsigned>::max();
    constexpr std::uint64_t positiveMax = static_cast<std::uint64_t>(std::numeric_limits<Int>::max());
    const ParsedNumber parsed = parseNumber(text, unsignedMax);
    if (parsed.hex && !parsed.negative && parsed.magnitude > positiveMax)
        return static_cast<Int>(static_cast<Unsigned>(parsed.magnitude));
    if (parsed.negative) {
        if (parsed.magnitude > positiveMax + 1)
            throw EConvertError(notAnIntegerMessage(text));
        return static_cast<Int>(static_cast<Unsigned>(0) - static_cast<Unsigned>(parsed.magnitude));
    }
    if (parsed.magnitude > positiveMax)
        throw EConvertError(notAnIntegerMessage(text));
    return static_cast<Int>(parsed.magnitude);
}

} // namespace

std::string notAnIntegerMessage(std::string_view text) {
    std::string message = "'";
    message.append(text);
    message.append("' ist kein gültiger Integerwert");
    return message;
}

std::int32_t StrToInt(std::string_view text) {
    return toSigned<std::int32_t>(text);
}

std::int64_t StrToInt64(std::string_view text) {
    return toSigned<std::int64_t>(text);
}

} // namespace ostrel
