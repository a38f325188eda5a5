#include "platform/windows/VariantText.h"

#include "common/Errors.h"
#include "platform/windows/ComValues.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::test {
namespace {

using platform::Bstr;
using platform::SafeArray;
using platform::Variant;
using Texts = std::optional<std::vector<std::string>>;

Variant nullValue() {
    Variant value;
    value.get().vt = VT_NULL;
    return value;
}

Variant integer(LONG number) {
    Variant value;
    value.get().vt = VT_I4;
    value.get().lVal = number;
    return value;
}

Variant text(const std::string& utf8) {
    Variant value;
    value.get().vt = VT_BSTR;
    value.get().bstrVal = Bstr(utf8).release();
    return value;
}

// A one-dimensional array of `type` with the bounds lower..lower+count-1, filled by `put`.
template <typename Put> Variant array(VARTYPE type, LONG lower, ULONG count, Put put) {
    SAFEARRAYBOUND bound{count, lower};
    SafeArray made(::SafeArrayCreate(type, 1, &bound));
    if (!made.get())
        throw std::runtime_error("SafeArrayCreate failed");
    for (ULONG i = 0; i < count; ++i) {
        LONG index = lower + static_cast<LONG>(i);
        put(made.get(), index, i);
    }
    Variant value;
    value.get().vt = static_cast<VARTYPE>(VT_ARRAY | type);
    value.get().parray = made.release();
    return value;
}

Variant bytes(const std::vector<BYTE>& values, LONG lower = 0) {
    return array(VT_UI1, lower, static_cast<ULONG>(values.size()), [&](SAFEARRAY* a, LONG index, ULONG i) {
        BYTE element = values[i];
        ::SafeArrayPutElement(a, &index, &element);
    });
}

Variant strings(const std::vector<std::string>& values, LONG lower = 0) {
    return array(VT_BSTR, lower, static_cast<ULONG>(values.size()), [&](SAFEARRAY* a, LONG index, ULONG i) {
        const Bstr element(values[i]);
        ::SafeArrayPutElement(a, &index, element.get()); // the array keeps a copy
    });
}

// What WMI gives for an array of CIM objects or mixed values: VARIANTs in the array.
Variant variants(std::vector<Variant> values) {
    return array(VT_VARIANT, 0, static_cast<ULONG>(values.size()),
                 [&](SAFEARRAY* a, LONG index, ULONG i) { ::SafeArrayPutElement(a, &index, &values[i].get()); });
}

TEST(VariantTexts, NullIntegersStringsAndEmptyArraysBecomeTheRecordsArrays) {
    struct Case {
        const char* name;
        Variant value;
        Texts expected;
    };
    Case cases[] = {
        {"empty", Variant(), std::nullopt},
        {"null", nullValue(), std::nullopt},
        {"bytes (Data of event 140)", bytes({0, 7, 255}), std::vector<std::string>{"0", "7", "255"}},
        {"strings (InsertionStrings)", strings({"ADMIN", "203.0.113.5"}),
         std::vector<std::string>{"ADMIN", "203.0.113.5"}},
        {"text beyond ASCII", strings({"Müller", "2001:db8::5"}), std::vector<std::string>{"Müller", "2001:db8::5"}},
        {"empty byte array", bytes({}), std::vector<std::string>{}},
        {"empty string array", strings({}), std::vector<std::string>{}},
        {"bounds from 1", strings({"first", "last"}, 1), std::vector<std::string>{"first", "last"}},
        {"bounds from -2", bytes({1, 2, 3}, -2), std::vector<std::string>{"1", "2", "3"}},
        {"variants", variants([] {
             std::vector<Variant> v;
             v.push_back(integer(-42));
             v.push_back(text("198.51.100.9"));
             v.push_back(nullValue());
             return v;
         }()),
         std::vector<std::string>{"-42", "198.51.100.9", ""}},
        {"one value, no array", text("203.0.113.77"), std::vector<std::string>{"203.0.113.77"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::variantTexts(c.value.get()), c.expected) << c.name;
}

TEST(VariantTexts, RecordNumbersReadAsWholeNumbersOrFail) {
    EXPECT_EQ(platform::variantRecordNumber(integer(1234).get()), 1234);
    // WMI hands uint32 over as VT_I4: a number past 2^31 arrives negative.
    EXPECT_EQ(platform::variantRecordNumber(integer(-1).get()), 4294967295);
    EXPECT_EQ(platform::variantRecordNumber(text("9000000000").get()), 9000000000);
    for (const char* bad : {"", "12a", "-"}) {
        try {
            platform::variantRecordNumber(text(bad).get());
            ADD_FAILURE() << "'" << bad << "' was taken";
        } catch (const EOleException& error) {
            EXPECT_EQ(static_cast<std::uint32_t>(error.code()), static_cast<std::uint32_t>(DISP_E_TYPEMISMATCH));
        }
    }
    EXPECT_THROW(platform::variantRecordNumber(nullValue().get()), EOleException);
}

TEST(VariantTexts, TheThreePropertiesMakeOneRecord) {
    const Variant number = integer(77);
    const Variant data = nullValue();
    const Variant insertion = strings({"user", "203.0.113.8"});
    const platform::EventRecord record = platform::eventRecordOf(number.get(), data.get(), insertion.get());
    EXPECT_EQ(record.RecordNumber, 77);
    EXPECT_FALSE(record.Data.has_value());
    EXPECT_EQ(record.InsertionStrings, (std::vector<std::string>{"user", "203.0.113.8"}));
}

TEST(VariantTexts, SingleValuesReadAsTheScanLogsThem) {
    Variant yes;
    yes.get().vt = VT_BOOL;
    yes.get().boolVal = VARIANT_TRUE;
    Variant big;
    big.get().vt = VT_UI8;
    big.get().ullVal = 18446744073709551615ull;
    EXPECT_EQ(platform::variantText(yes.get()), "True");
    EXPECT_EQ(platform::variantText(big.get()), "18446744073709551615");
    EXPECT_EQ(platform::variantText(integer(-5).get()), "-5");
    EXPECT_EQ(platform::variantText(nullValue().get()), "");
}

} // namespace
} // namespace ostrel::test
