#include "common/Conversion.h"

#include "common/Errors.h"

#include <cctype>
#include <limits>

namespace ostrel {

std::string notAnIntegerMessage(std::string_view text) {
    std::string message = "'";
    message.append(text);
    message.append("' ist kein gültiger Integerwert");
    return message;
}

std::int32_t StrToInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::size_t end = text.size();
    while (end > i && text[end - 1] == ' ')
        --end;
    bool negative = false;
    if (i < end && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < end && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < end && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= end)
        throw EConvertError(notAnIntegerMessage(text));
    std::int64_t value = 0;
    for (; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            throw EConvertError(notAnIntegerMessage(text));
        value = value * base + digit;
        if (value > std::int64_t{std::numeric_limits<std::uint32_t>::max()} + 1)
            throw EConvertError(notAnIntegerMessage(text));
    }
    if (negative)
        value = -value;
    // Hex texts may name the full unsigned range, as the classic conversion allows.
    if (base == 16 && value > std::numeric_limits<std::int32_t>::max() &&
        value <= std::numeric_limits<std::uint32_t>::max())
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw EConvertError(notAnIntegerMessage(text));
    return static_cast<std::int32_t>(value);
}

} // namespace ostrel
