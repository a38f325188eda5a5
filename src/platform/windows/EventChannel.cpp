#include "platform/EventChannel.h"

#include "platform/System.h"
#include "platform/windows/RegistryKey.h"
#include "platform/windows/WindowsApi.h"
#include "platform/windows/WmiEventSource.h"

#include <cstdlib>

namespace ostrel::platform {

std::unique_ptr<EventSource> makeEventSource(const std::filesystem::path&) {
    return std::make_unique<WmiEventSource>();
}

std::filesystem::path channelClaimFile(const std::filesystem::path&) {
    // The event log is the machine's, so is the claim: a folder every account of the machine
    // reaches, the service's and the operator's alike.
    const wchar_t* programData = ::_wgetenv(L"ProgramData");
    const std::filesystem::path folder = programData ? std::filesystem::path(programData) : executableFolder();
    return folder / "RDP-Ostrel" / "RdpCoreTS-Operational.guard";
}

// The folder is the channel-file stand-in's; on Windows the event log's own key is probed.
bool probeEventChannel(const std::filesystem::path&) {
    return openOrCreateMachineKey(EventChannelKey).has_value();
}

} // namespace ostrel::platform
