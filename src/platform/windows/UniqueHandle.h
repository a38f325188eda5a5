#pragma once

#include "platform/windows/WindowsApi.h"

#include <memory>
#include <type_traits>

namespace ostrel::platform {

struct HandleClose {
    void operator()(HANDLE handle) const {
        if (handle && handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
    }
};
// Owns one kernel object HANDLE (event, file, thread) and closes it on every path.
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleClose>;

} // namespace ostrel::platform
