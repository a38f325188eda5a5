#include "platform/ChannelFileError.h"

#include <cstdint>

namespace ostrel::platform {

EOleException channelFileError(const std::string& action, const std::filesystem::path& file, const SystemError& error) {
    // 0x8007xxxx is the facility the event log uses for errors of the operating system.
    const auto code = static_cast<std::int32_t>(0x80070000u | (error.code & 0xFFFFu));
    return EOleException("Cannot " + action + " the channel file " + file.string() + ": " + error.text, code);
}

} // namespace ostrel::platform
