#include "common/LogText.h"

#include "common/LogLine.h"

#include <chrono>
#include <ctime>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace ostrel {
namespace {

TEST(LogText, ControlCharactersAreShownEscaped) {
    struct Case {
        std::string text;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"203.0.113.7", "203.0.113.7"},
        {"a\nb", "a\\nb"},
        {"a\r\nb\tc", "a\\r\\nb\\tc"},
        {std::string("nul\0end", 7), "nul\\x00end"},
        {"\x1B[31mred\x7F", "\\x1B[31mred\\x7F"},
        {"WORKGROUP\\bob", "WORKGROUP\\bob"},
        {"Müller ✓ 😀", "Müller ✓ 😀"},
        {"next\xC2\x85line", "next\\u0085line"},
        {"line\xE2\x80\xA8sep\xE2\x80\xA9par", "line\\u2028sep\\u2029par"},
        {"\xE2\x80\xAE"
         "exe.txt",
         "\\u202Eexe.txt"},
        {"\xE2\x81\xA6isolate\xE2\x81\xA9", "\\u2066isolate\\u2069"},
        {"broken \xC2 utf8 \xFF", "broken \xC2 utf8 \xFF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(escapeControlCharacters(c.text), c.shown) << c.shown;
}

TEST(LogText, LongTextsAreCutWithTheirSize) {
    struct Case {
        std::string text;
        std::size_t max;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"abc", 3, "abc"},
        {"abcd", 3, "abc ... [4 bytes in all]"},
        {"äöüß", 3, "äöü ... [8 bytes in all]"},
        {"", 0, ""},
        {std::string(1000000, 'x'), 2, "xx ... [1000000 bytes in all]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cutForLog(c.text, c.max), c.shown) << c.text.substr(0, 10);
}

// Every log line is formed here: a line feed inside outside text cannot forge a second line.
TEST(LogText, ALogLineIsOneLineWhateverItsMessageHolds) {
    std::tm local{};
    local.tm_year = 124;
    local.tm_mday = 1;
    local.tm_hour = 10;
    const std::string line = formatLogLine(local, std::chrono::nanoseconds(0),
                                           " - RecordNumber 5: 203.0.113.7\n01.01.2024 10:00:00 - Cleaned up!\r");
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.find('\r'), std::string::npos);
    EXPECT_NE(line.find(" - RecordNumber 5: 203.0.113.7\\n01.01.2024 10:00:00 - Cleaned up!\\r"), std::string::npos);
}

} // namespace
} // namespace ostrel
