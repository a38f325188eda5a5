#include "common/Errors.h"

#include <new>

namespace ostrel {

const char* errorTypeName(const std::exception& error) noexcept {
    if (auto* own = dynamic_cast<const Error*>(&error))
        return own->typeName();
    if (dynamic_cast<const std::bad_alloc*>(&error))
        return "EOutOfMemory";
    if (dynamic_cast<const std::out_of_range*>(&error) || dynamic_cast<const std::overflow_error*>(&error))
        return "ERangeError";
    return "Exception";
}

} // namespace ostrel
