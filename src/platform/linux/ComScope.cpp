#include "platform/ComScope.h"

namespace ostrel::platform {

// Linux has no COM; the scope stays so the pass's order reads the same on both systems.
ComScope::ComScope() = default;
ComScope::~ComScope() = default;

} // namespace ostrel::platform
