#include "config/TextEncoding.h"

#include "IniTestFiles.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace ostrel::test {
namespace {

struct Cp1252Case {
    std::string bytes;
    std::string utf8;
};

TEST(TextEncoding, Windows1252BothWays) {
    const std::vector<Cp1252Case> cases = {
        {"plain", "plain"},
        {"\xE4\xF6\xFC\xDF", "äöüß"},
        {"\x80", "€"},
        {"\x8A\x9A\x9F", "ŠšŸ"},
        {"\x81\x8D\x8F\x90\x9D", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D"},
        {"\xA0\xFF", "\xC2\xA0ÿ"},
    };
    for (const Cp1252Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(windows1252ToUtf8(c.bytes), c.utf8);
        EXPECT_EQ(utf8ToWindows1252(c.utf8), c.bytes);
    }
}

TEST(TextEncoding, WhatWindows1252CannotHoldBecomesAQuestionMark) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Ω", "?"},
        {"a\U0001F600b", "a?b"},
        {"\xC3", "?"},           // cut short
        {"\xC0\xAF", "??"},      // overlong
        {"\xED\xA0\x80", "???"}, // encoded surrogate
        {"x\xFFy", "x?y"},
    };
    for (const auto& [utf8, bytes] : cases)
        EXPECT_EQ(utf8ToWindows1252(utf8), bytes) << utf8;
}

TEST(TextEncoding, Utf16BothWaysAndBothByteOrders) {
    const std::u16string units = u"Ab ä € \U0001F600";
    const std::string utf8 = "Ab ä € \U0001F600";
    for (const bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        EXPECT_EQ(utf16ToUtf8(utf16Bytes(units, bigEndian), bigEndian), utf8);
        EXPECT_EQ(utf8ToUtf16(utf8, bigEndian), utf16Bytes(units, bigEndian));
    }
}

TEST(TextEncoding, BrokenUtf16BecomesTheReplacementCharacter) {
    const std::u16string lonely = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(utf16ToUtf8(utf16Bytes(lonely, false), false), "a\uFFFDb\uFFFD");
    EXPECT_EQ(utf16ToUtf8(utf16Bytes(u"a", false) + "\x62", false), "a") << "odd trailing byte";
    EXPECT_EQ(utf8ToUtf16("\xFF", false), utf16Bytes(u"\uFFFD", false));
}

} // namespace
} // namespace ostrel::test
