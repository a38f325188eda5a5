#pragma once

#include "platform/EventSource.h"

#include <filesystem>
#include <memory>

// The event channel of failed logons as this platform has it: where it is read, where the claim
// to read it lies, and whether the program may open it.
namespace ostrel::platform {

// The event source of this platform: on Windows the event log itself, asked through WMI (the
// folder is not used there); where no event log exists, the channel file in `channelFolder`.
std::unique_ptr<EventSource> makeEventSource(const std::filesystem::path& channelFolder);

// The file whose lock says that one guard of this machine reads the event channel (the channel
// file's folder holds it where the channel is a file; on Windows a folder of the machine's own).
std::filesystem::path channelClaimFile(const std::filesystem::path& channelFolder);

// Stand-in for opening the event channel's registry key with full access: opens (creating
// when needed) the channel folder with write access. True when that succeeded.
bool probeEventChannel(const std::filesystem::path& folder);

} // namespace ostrel::platform
