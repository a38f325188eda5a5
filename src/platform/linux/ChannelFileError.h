#pragma once

#include "common/Errors.h"

#include <filesystem>
#include <string>

namespace ostrel::platform {

// The error of a channel file that could not be opened or read, shaped like the event log's own
// errors: a message naming the file and the cause, and a Win32-style code built from errno.
EOleException channelFileError(const std::string& action, const std::filesystem::path& file, int error);
// The same for a cause that is no errno of its own (ERROR_INVALID_DATA as the code).
EOleException channelFileError(const std::string& action, const std::filesystem::path& file, const std::string& cause);

} // namespace ostrel::platform
