#pragma once

#include "platform/windows/WindowsApi.h"

#include <oleauto.h>
#include <string>
#include <string_view>
#include <utility>

namespace ostrel::platform {

// Owns one BSTR and frees it on every path.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::string_view utf8);
    // Takes a BSTR that the caller owns (for example one a COM call returned).
    static Bstr adopt(BSTR text) {
        Bstr owned;
        owned.m_text = text;
        return owned;
    }
    ~Bstr() { ::SysFreeString(m_text); }
    Bstr(Bstr&& other) noexcept : m_text(std::exchange(other.m_text, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        std::swap(m_text, other.m_text);
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const { return m_text; }
    // For a COM call that hands out a new BSTR; what was held before is freed.
    BSTR* receive() {
        ::SysFreeString(std::exchange(m_text, nullptr));
        return &m_text;
    }
    std::string utf8() const;
    // Hands the text over, for example to a VARIANT that will own it.
    [[nodiscard]] BSTR release() { return std::exchange(m_text, nullptr); }

private:
    BSTR m_text = nullptr;
};

// Owns one VARIANT and clears it (with the BSTR, SAFEARRAY or interface inside) on every path.
class Variant {
public:
    Variant() { ::VariantInit(&m_value); }
    ~Variant() { ::VariantClear(&m_value); }
    Variant(Variant&& other) noexcept : Variant() { std::swap(m_value, other.m_value); }
    Variant& operator=(Variant&& other) noexcept {
        std::swap(m_value, other.m_value);
        return *this;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    const VARIANT& get() const { return m_value; }
    VARIANT& get() { return m_value; }
    // For a COM call that fills the value; what was held before is cleared.
    VARIANT* receive() {
        ::VariantClear(&m_value);
        return &m_value;
    }

private:
    VARIANT m_value;
};

// Owns one SAFEARRAY that is not (yet) inside a VARIANT and destroys it on every path.
class SafeArray {
public:
    SafeArray() = default;
    explicit SafeArray(SAFEARRAY* array) : m_array(array) {}
    ~SafeArray() {
        if (m_array)
            ::SafeArrayDestroy(m_array);
    }
    SafeArray(SafeArray&& other) noexcept : m_array(std::exchange(other.m_array, nullptr)) {}
    SafeArray& operator=(SafeArray&& other) noexcept {
        std::swap(m_array, other.m_array);
        return *this;
    }
    SafeArray(const SafeArray&) = delete;
    SafeArray& operator=(const SafeArray&) = delete;

    SAFEARRAY* get() const { return m_array; }
    // Hands the array over, for example to a VARIANT that will own it.
    [[nodiscard]] SAFEARRAY* release() { return std::exchange(m_array, nullptr); }

private:
    SAFEARRAY* m_array = nullptr;
};

} // namespace ostrel::platform
