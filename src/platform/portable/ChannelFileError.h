#pragma once

#include "common/Errors.h"
#include "platform/ChannelFile.h"

#include <filesystem>
#include <string>

namespace ostrel::platform {

// The error of a channel file that could not be opened or read, shaped like the event log's own
// errors: a message naming the file and the cause, and the Win32-style code of the system error.
EOleException channelFileError(const std::string& action, const std::filesystem::path& file, const SystemError& error);
// The same for a cause that is no system error of its own (ERROR_INVALID_DATA as the code).
EOleException channelFileError(const std::string& action, const std::filesystem::path& file, const std::string& cause);

} // namespace ostrel::platform
