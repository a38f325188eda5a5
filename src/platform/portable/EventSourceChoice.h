#pragma once

#include "platform/EventSource.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel::platform {

// Where a guard reads failed logons, as the setting `EventSource` and the service's --source name it:
// "eventlog" (the Windows event log), "channel" (the channel file, the stand-in tests feed) or
// "xrdp" with an optional ":" and the path of xrdp's session manager log. Empty: the platform's own.
struct EventSourceChoice {
    enum class Kind { EventLog, ChannelFile, XrdpLog };
    Kind kind = Kind::EventLog;
    std::filesystem::path xrdpLog; // XrdpLog only

    bool operator==(const EventSourceChoice&) const = default;
};

// The choice a text names (letter case aside, blanks trimmed); nullopt for a text that names none.
std::optional<EventSourceChoice> parseEventSourceChoice(std::string_view text);
// The texts the setting and the option take, for messages and --help.
inline constexpr const char* EventSourceChoices = "eventlog, channel, or xrdp[:PATH]";
// The choice of an empty setting: the event log on Windows, the channel file elsewhere.
EventSourceChoice defaultEventSourceChoice();

// Where a chosen source keeps what it needs between runs (the xrdp source: its position file).
struct EventSourcePlaces {
    std::filesystem::path channelFolder; // the channel file's folder
    std::filesystem::path stateFolder;   // beside Config.ini
};

// The source a choice names. On Linux "eventlog" is the channel file, the event log's stand-in.
std::unique_ptr<EventSource> makeChosenEventSource(const EventSourceChoice& choice, const EventSourcePlaces& places);

} // namespace ostrel::platform
