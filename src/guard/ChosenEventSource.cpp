#include "guard/ChosenEventSource.h"

#include "common/Errors.h"
#include "platform/EventSource.h"
#include "settings/Settings.h"

namespace ostrel {

ChosenEventSource::ChosenEventSource(const Settings& settings, platform::EventSourcePlaces places,
                                     std::optional<std::string> fixedChoice)
    : m_settings(settings), m_places(std::move(places)), m_fixedChoice(std::move(fixedChoice)) {}

std::string ChosenEventSource::choiceText() const {
    return m_fixedChoice ? *m_fixedChoice : m_settings.get(&SettingsValues::EventSource);
}

platform::EventSourceChoice ChosenEventSource::choice() const {
    const std::string text = choiceText();
    const std::optional<platform::EventSourceChoice> choice = platform::parseEventSourceChoice(text);
    if (!choice)
        throw EConvertError("'" + text + "' names no event source (" + platform::EventSourceChoices + ")");
    return *choice;
}

platform::EventSource& ChosenEventSource::current() {
    const platform::EventSourceChoice now = choice();
    if (!m_source || m_chosen != now) {
        m_source = platform::makeChosenEventSource(now, m_places);
        m_chosen = now;
    }
    return *m_source;
}

std::vector<platform::EventRecord> ChosenEventSource::recordsAbove(std::int64_t recordNumber) {
    return current().recordsAbove(recordNumber);
}

std::optional<std::int64_t> ChosenEventSource::newestRecordNumber() {
    return current().newestRecordNumber();
}

std::optional<platform::EventRecord> ChosenEventSource::recordAt(std::int64_t recordNumber) {
    return current().recordAt(recordNumber);
}

bool ChosenEventSource::numbersOnlyGrow() const {
    try {
        return choice().kind == platform::EventSourceChoice::Kind::XrdpLog;
    } catch (const std::exception&) {
        return false; // the scan fails on the choice itself
    }
}

std::filesystem::path ChosenEventSource::claimFile() {
    try {
        return current().claimFile();
    } catch (const std::exception&) {
        return {}; // the scan fails on the choice itself
    }
}

void ChosenEventSource::markKeptIn(const std::string& place) {
    current().markKeptIn(place);
}

std::string ChosenEventSource::description() const {
    try {
        const platform::EventSourceChoice now = choice();
        if (m_source && m_chosen == now)
            return m_source->description();
        return platform::makeChosenEventSource(now, m_places)->description();
    } catch (const std::exception& error) {
        return std::string("no event source: ") + error.what();
    }
}

std::unique_ptr<platform::SourceWatch> ChosenEventSource::watch(std::function<void()> onChange) {
    return current().watch(std::move(onChange));
}

} // namespace ostrel
