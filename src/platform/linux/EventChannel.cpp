#include "platform/EventChannel.h"

#include "platform/portable/ChannelFileSource.h"

#include <system_error>
#include <unistd.h>

namespace ostrel::platform {

std::unique_ptr<EventSource> makeEventSource(const std::filesystem::path& channelFolder) {
    return std::make_unique<ChannelFileSource>(channelFolder);
}

std::filesystem::path channelClaimFile(const std::filesystem::path& channelFolder) {
    // Beside the channel file: whoever reads that file shares the one claim.
    std::filesystem::path file = ChannelFileSource::fileFor(channelFolder, RdpChannel);
    file += ".guard";
    return file;
}

bool probeEventChannel(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error))
        return false;
    // Root passes every permission check; access() still reports a read-only file system.
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

} // namespace ostrel::platform
