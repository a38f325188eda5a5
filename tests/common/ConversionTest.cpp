#include "common/Conversion.h"

#include "common/Errors.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {
namespace {

struct Case {
    std::string text;
    std::optional<std::int64_t> value; // nullopt: the conversion error
};

template <typename Convert> void expectConversions(const std::vector<Case>& cases, Convert convert) {
    for (const Case& c : cases) {
        try {
            const std::int64_t value = convert(c.text);
            EXPECT_EQ(std::optional<std::int64_t>(value), c.value) << "'" << c.text << "'";
        } catch (const EConvertError& error) {
            EXPECT_FALSE(c.value) << "'" << c.text << "' raised";
            EXPECT_EQ(std::string(error.what()), "'" + c.text + "' ist kein gültiger Integerwert");
        }
    }
}

TEST(Conversion, StrToIntStaysWithin32Bits) {
    expectConversions(
        {
            {"0", 0},
            {" 42 ", 42},
            {"+7", 7},
            {"-2147483648", INT32_MIN},
            {"2147483647", INT32_MAX},
            {"2147483648", std::nullopt},
            {"-2147483649", std::nullopt},
            {"$FFFFFFFF", -1},
            {"0x7fffffff", INT32_MAX},
            {"$100000000", std::nullopt},
            {"", std::nullopt},
            {"-", std::nullopt},
            {"12a", std::nullopt},
            {"99999999999999999999999", std::nullopt},
        },
        [](const std::string& text) { return StrToInt(text); });
}

// Event record numbers are 64-bit: the mark LastRecord holds them.
TEST(Conversion, StrToInt64ReadsRecordNumbersPast32Bits) {
    expectConversions(
        {
            {"0", 0},
            {"2147483648", 2147483648LL},
            {"4294967296", 4294967296LL},
            {"9223372036854775807", INT64_MAX},
            {"-9223372036854775808", INT64_MIN},
            {"9223372036854775808", std::nullopt},
            {"-9223372036854775809", std::nullopt},
            {"18446744073709551616", std::nullopt},
            {"$7FFFFFFFFFFFFFFF", INT64_MAX},
            {"$FFFFFFFFFFFFFFFF", -1},
            {"$10000000000000000", std::nullopt},
            {" 5 ", 5},
            {"", std::nullopt},
            {"5 5", std::nullopt},
            {"x", std::nullopt},
        },
        [](const std::string& text) { return StrToInt64(text); });
}

} // namespace
} // namespace ostrel
