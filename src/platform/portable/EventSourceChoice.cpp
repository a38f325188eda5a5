#include "platform/portable/EventSourceChoice.h"

#include "platform/EventChannel.h"
#include "platform/XrdpLogSource.h"

#include <algorithm>
#include <cctype>

namespace ostrel::platform {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool sameLetters(std::string_view text, std::string_view word) {
    return text.size() == word.size() && std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

} // namespace

std::optional<EventSourceChoice> parseEventSourceChoice(std::string_view text) {
    text = trimmed(text);
    if (text.empty())
        return defaultEventSourceChoice();
    const auto colon = text.find(':');
    const std::string_view kind = trimmed(text.substr(0, colon));
    if (sameLetters(kind, "xrdp")) {
        std::string_view path = colon == std::string_view::npos ? std::string_view() : trimmed(text.substr(colon + 1));
        return EventSourceChoice{EventSourceChoice::Kind::XrdpLog,
                                 path.empty() ? std::filesystem::path(DefaultXrdpLog) : std::filesystem::path(path)};
    }
    if (colon != std::string_view::npos)
        return std::nullopt;
    if (sameLetters(kind, "eventlog"))
        return EventSourceChoice{EventSourceChoice::Kind::EventLog, {}};
    if (sameLetters(kind, "channel"))
        return EventSourceChoice{EventSourceChoice::Kind::ChannelFile, {}};
    return std::nullopt;
}

EventSourceChoice defaultEventSourceChoice() {
#ifdef _WIN32
    return {EventSourceChoice::Kind::EventLog, {}};
#else
    return {EventSourceChoice::Kind::ChannelFile, {}};
#endif
}

std::unique_ptr<EventSource> makeChosenEventSource(const EventSourceChoice& choice, const EventSourcePlaces& places) {
    switch (choice.kind) {
    case EventSourceChoice::Kind::ChannelFile:
        return std::make_unique<ChannelFileSource>(places.channelFolder);
    case EventSourceChoice::Kind::XrdpLog:
        // One position file per log, so that a guard switched between logs starts each afresh.
        return std::make_unique<XrdpLogSource>(choice.xrdpLog,
                                               places.stateFolder / (choice.xrdpLog.filename().string() + ".position"));
    case EventSourceChoice::Kind::EventLog:
        break;
    }
    return makeEventSource(places.channelFolder);
}

} // namespace ostrel::platform
