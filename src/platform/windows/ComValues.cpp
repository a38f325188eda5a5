#include "platform/windows/ComValues.h"

#include "common/Errors.h"
#include "platform/windows/WideText.h"

namespace ostrel::platform {

Bstr::Bstr(std::string_view utf8) {
    const std::wstring wide = toUtf16(utf8);
    m_text = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    if (!m_text)
        throw EOleException("SysAllocStringLen: Not enough memory", static_cast<std::int32_t>(E_OUTOFMEMORY));
}

std::string Bstr::utf8() const {
    return m_text ? toUtf8(std::wstring_view(m_text, ::SysStringLen(m_text))) : std::string();
}

} // namespace ostrel::platform
