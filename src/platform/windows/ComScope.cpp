#include "platform/ComScope.h"

#include "platform/windows/WindowsApi.h"

#include <objbase.h>

namespace ostrel::platform {

// A thread whose COM is already initialised in another mode keeps it and may still use it;
// only a successful initialisation of our own is balanced by an uninitialisation.
ComScope::ComScope() : m_initialised(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ComScope::~ComScope() {
    if (m_initialised)
        ::CoUninitialize();
}

} // namespace ostrel::platform
