#include "common/LogText.h"

#include <cstdint>
#include <cstdio>

namespace ostrel {

namespace {

bool isContinuationByte(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Code points that move or split text on screen although they are no C0 control.
bool isDisplayControl(std::uint32_t codePoint) {
    return (codePoint >= 0x80 && codePoint <= 0x9F) || codePoint == 0x2028 || codePoint == 0x2029 ||
           (codePoint >= 0x202A && codePoint <= 0x202E) || (codePoint >= 0x2066 && codePoint <= 0x2069);
}

// The code point of a well-formed two- or three-byte sequence at text[i], with its length; 0
// length for anything else (longer sequences hold no character this looks for).
std::uint32_t decodeShort(std::string_view text, std::size_t i, std::size_t& length) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    length = 0;
    if ((byte(0) & 0xE0) == 0xC0 && i + 1 < text.size() && isContinuationByte(byte(1))) {
        length = 2;
        return (static_cast<std::uint32_t>(byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
    }
    if ((byte(0) & 0xF0) == 0xE0 && i + 2 < text.size() && isContinuationByte(byte(1)) && isContinuationByte(byte(2))) {
        length = 3;
        return (static_cast<std::uint32_t>(byte(0) & 0x0F) << 12) | (static_cast<std::uint32_t>(byte(1) & 0x3F) << 6) |
               (byte(2) & 0x3F);
    }
    return 0;
}

} // namespace

std::string escapeControlCharacters(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        char escape[16];
        if (c == '\n' || c == '\r' || c == '\t') {
            shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            shown += escape;
            ++i;
            continue;
        }
        if (c >= 0xC0) {
            std::size_t length = 0;
            const std::uint32_t codePoint = decodeShort(text, i, length);
            if (length != 0 && isDisplayControl(codePoint)) {
                std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(codePoint));
                shown += escape;
                i += length;
                continue;
            }
        }
        shown += static_cast<char>(c);
        ++i;
    }
    return shown;
}

std::string cutForLog(std::string_view text, std::size_t maxCharacters) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isContinuationByte(static_cast<unsigned char>(text[i])))
            continue;
        if (++characters > maxCharacters)
            return std::string(text.substr(0, i)) + " ... [" + std::to_string(text.size()) + " bytes in all]";
    }
    return std::string(text);
}

} // namespace ostrel
