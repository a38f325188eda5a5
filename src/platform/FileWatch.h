#pragma once

#include "platform/EventSource.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace ostrel::platform {

// Calls `onChange` from a thread of its own soon after `file` was written, also when the file was
// cut in place, renamed away or created anew (its folder is watched, not the file), for as long
// as the watch lives. nullptr where the platform has no such watch; EOSError when it cannot watch.
std::unique_ptr<SourceWatch> watchFile(const std::filesystem::path& file, std::function<void()> onChange);

} // namespace ostrel::platform
