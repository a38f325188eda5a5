#pragma once

#include "platform/EventSource.h"
#include "platform/portable/EventSourceChoice.h"

#include <memory>
#include <optional>
#include <string>

namespace ostrel {

class Settings;

// The event source the setting `EventSource` names at the moment of use, like every other setting:
// a changed choice takes effect at the next pass. A choice given on the command line wins over the
// setting. A text that names no source fails the scan (and so every pass) until it is corrected.
class ChosenEventSource : public platform::EventSource {
public:
    ChosenEventSource(const Settings& settings, platform::EventSourcePlaces places,
                      std::optional<std::string> fixedChoice = std::nullopt);

    std::vector<platform::EventRecord> recordsAbove(std::int64_t recordNumber) override;
    std::size_t skippedLines() const override { return m_source ? m_source->skippedLines() : 0; }
    std::optional<std::int64_t> newestRecordNumber() override;
    std::optional<platform::EventRecord> recordAt(std::int64_t recordNumber) override;
    bool numbersOnlyGrow() const override;
    // The chosen source's claim; empty while the choice names no source.
    std::filesystem::path claimFile() override;
    // Told to the chosen source.
    void markKeptIn(const std::string& place) override;
    // What the chosen source reads, or why the choice names none.
    std::string description() const override;
    // Watches the source chosen now; a later choice needs a new watch.
    std::unique_ptr<platform::SourceWatch> watch(std::function<void()> onChange) override;

private:
    std::string choiceText() const;
    // Raises EConvertError for a text that names no source.
    platform::EventSourceChoice choice() const;
    platform::EventSource& current();

    const Settings& m_settings;
    platform::EventSourcePlaces m_places;
    std::optional<std::string> m_fixedChoice;
    std::optional<platform::EventSourceChoice> m_chosen;
    std::unique_ptr<platform::EventSource> m_source;
};

} // namespace ostrel
