#include "platform/windows/VariantText.h"

#include "common/Errors.h"
#include "platform/windows/ComValues.h"
#include "platform/windows/SystemErrors.h"
#include "platform/windows/WideText.h"

#include <charconv>

namespace ostrel::platform {
namespace {

std::optional<std::int64_t> wholeNumber(const VARIANT& value) {
    switch (value.vt) {
    case VT_I1:
        return value.cVal;
    case VT_UI1:
        return value.bVal;
    case VT_I2:
        return value.iVal;
    case VT_UI2:
        return value.uiVal;
    case VT_I4:
        return value.lVal;
    case VT_UI4:
        return value.ulVal;
    case VT_INT:
        return value.intVal;
    case VT_UINT:
        return value.uintVal;
    case VT_I8:
        return value.llVal;
    default:
        return std::nullopt;
    }
}

// The element at `index` of the first dimension; the other dimensions stay at their lower bounds.
Variant elementAt(SAFEARRAY* array, VARTYPE type, LONG index) {
    std::vector<LONG> indices(array->cDims);
    for (UINT dimension = 2; dimension <= array->cDims; ++dimension)
        checkCom(::SafeArrayGetLBound(array, dimension, &indices[dimension - 1]), "SafeArrayGetLBound");
    indices[0] = index;
    Variant element;
    if (type == VT_VARIANT) {
        checkCom(::SafeArrayGetElement(array, indices.data(), element.receive()), "SafeArrayGetElement");
        return element;
    }
    // An element of a typed array is copied into a VARIANT of that type; a BSTR copy then
    // belongs to the VARIANT and goes with it.
    VARIANT& value = *element.receive();
    checkCom(::SafeArrayGetElement(array, indices.data(), &value.bVal), "SafeArrayGetElement");
    value.vt = type;
    return element;
}

} // namespace

std::string variantText(const VARIANT& value) {
    if (value.vt == VT_EMPTY || value.vt == VT_NULL)
        return {};
    if (value.vt == VT_BSTR)
        return toUtf8(std::wstring_view(value.bstrVal ? value.bstrVal : L"", ::SysStringLen(value.bstrVal)));
    if (const auto number = wholeNumber(value))
        return std::to_string(*number);
    if (value.vt == VT_UI8)
        return std::to_string(value.ullVal);
    if (value.vt == VT_BOOL)
        return value.boolVal != VARIANT_FALSE ? "True" : "False";
    Variant converted;
    // The source is only read; the API merely lacks the const.
    checkCom(::VariantChangeType(converted.receive(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL, VT_BSTR),
             "VariantChangeType");
    return variantText(converted.get());
}

std::optional<std::vector<std::string>> variantTexts(const VARIANT& value) {
    if (value.vt == VT_EMPTY || value.vt == VT_NULL)
        return std::nullopt;
    if (!(value.vt & VT_ARRAY))
        return std::vector<std::string>{variantText(value)};
    SAFEARRAY* array = (value.vt & VT_BYREF) ? (value.pparray ? *value.pparray : nullptr) : value.parray;
    if (!array)
        return std::nullopt;
    const auto type = static_cast<VARTYPE>(value.vt & VT_TYPEMASK);
    std::vector<std::string> texts;
    if (::SafeArrayGetDim(array) == 0)
        return texts;
    LONG lower = 0;
    LONG upper = -1;
    checkCom(::SafeArrayGetLBound(array, 1, &lower), "SafeArrayGetLBound");
    checkCom(::SafeArrayGetUBound(array, 1, &upper), "SafeArrayGetUBound");
    for (LONG index = lower; index <= upper; ++index)
        texts.push_back(variantText(elementAt(array, type, index).get()));
    return texts;
}

std::int64_t variantRecordNumber(const VARIANT& value) {
    if (value.vt == VT_I4)
        return static_cast<std::uint32_t>(value.lVal);
    if (const auto number = wholeNumber(value))
        return *number;
    if (value.vt == VT_UI8 && value.ullVal <= static_cast<ULONGLONG>(INT64_MAX))
        return static_cast<std::int64_t>(value.ullVal);
    if (value.vt == VT_BSTR) {
        const std::string text = variantText(value);
        std::int64_t number = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
        if (error == std::errc() && end == text.data() + text.size() && !text.empty())
            return number;
    }
    throw EOleException("RecordNumber is no whole number (variant type " + std::to_string(value.vt) + ")",
                        static_cast<std::int32_t>(DISP_E_TYPEMISMATCH));
}

EventRecord eventRecordOf(const VARIANT& recordNumber, const VARIANT& data, const VARIANT& insertionStrings) {
    return {variantRecordNumber(recordNumber), variantTexts(data), variantTexts(insertionStrings)};
}

} // namespace ostrel::platform
