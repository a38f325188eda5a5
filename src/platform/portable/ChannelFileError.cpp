#include "platform/portable/ChannelFileError.h"

#include <cstdint>

namespace ostrel::platform {

EOleException channelFileError(const std::string& action, const std::filesystem::path& file, const SystemError& error) {
    // 0x8007xxxx is the facility the event log uses for errors of the operating system.
    const auto code = static_cast<std::int32_t>(0x80070000u | (error.code & 0xFFFFu));
    return EOleException("Cannot " + action + " the channel file " + file.string() + ": " + error.text, code);
}

EOleException channelFileError(const std::string& action, const std::filesystem::path& file, const std::string& cause) {
    constexpr std::uint32_t InvalidData = 0x8007000Du; // HRESULT_FROM_WIN32(ERROR_INVALID_DATA)
    return EOleException("Cannot " + action + " the channel file " + file.string() + ": " + cause,
                         static_cast<std::int32_t>(InvalidData));
}

} // namespace ostrel::platform
