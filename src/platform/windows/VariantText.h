#pragma once

#include "platform/EventSource.h"
#include "platform/windows/WindowsApi.h"

#include <oleauto.h>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::platform {

// One value as text, the way the scan logs it and takes it as an address: a string as it is,
// a whole number in decimal, a boolean as "True" or "False", empty and null as empty text,
// anything else as VariantChangeType makes it a string. Raises EOleException when it cannot.
std::string variantText(const VARIANT& value);

// A property that holds null or an array: nullopt for empty or null, otherwise the elements of
// the array's first dimension from its lower to its upper bound, each as variantText makes it.
// A single value that is no array counts as an array of one. Raises EOleException when the
// array cannot be read.
std::optional<std::vector<std::string>> variantTexts(const VARIANT& value);

// A record number: a whole number of any width, or the decimal text WMI uses for 64-bit
// values. WMI hands uint32 properties over as VT_I4, so a negative VT_I4 is read as its
// unsigned value. Raises EOleException for anything else.
std::int64_t variantRecordNumber(const VARIANT& value);

// The event record made of the three properties the scan reads of each object.
EventRecord eventRecordOf(const VARIANT& recordNumber, const VARIANT& data, const VARIANT& insertionStrings);

} // namespace ostrel::platform
