#include "platform/platform.h"
#include "platform/windows/RegistryKey.h"

namespace ostrel::platform {

// The folder is the channel-file stand-in's; on Windows the event log's own key is probed.
bool probeEventChannel(const std::filesystem::path&) {
    return openOrCreateMachineKey(EventChannelKey).has_value();
}

} // namespace ostrel::platform
