#pragma once

#include "platform/EventSource.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::platform {

// The channel file stand-in for the event log: <folder>/<channel with "/" as "%4">.jsonl,
// one JSON record per line in increasing RecordNumber, read backwards from its end.
// Lines that cannot be parsed, and lines longer than MaxLineBytes (never held in memory
// whole), are skipped and counted. Anything but a regular file in the file's place (a FIFO,
// a device, a folder) is refused with an error instead of being opened for reading.
class ChannelFileSource : public EventSource {
public:
    static constexpr std::size_t MaxLineBytes = 1024 * 1024;

    ChannelFileSource(std::filesystem::path folder, std::string channel = RdpChannel,
                      int eventCode = FailedLogonEventCode);
    // A record whose number does not fall from line to line towards the start (0 or less, or not
    // below the one after it) is out of order: skipped and counted like an unreadable line, and
    // the records around it are read all the same.
    std::vector<EventRecord> recordsAbove(std::int64_t recordNumber) override;
    std::optional<std::int64_t> newestRecordNumber() override;
    std::optional<EventRecord> recordAt(std::int64_t recordNumber) override;
    // Lines skipped as unparsable or too long by the last call.
    std::size_t skippedLines() const override { return m_skipped; }
    std::string description() const override;
    std::unique_ptr<SourceWatch> watch(std::function<void()> onChange) override;
    const std::filesystem::path& file() const { return m_file; }

    static std::filesystem::path fileFor(const std::filesystem::path& folder, const std::string& channel);
    // A name as the event log writes it into a file name: each "/" as "%4".
    static std::string fileNameText(const std::string& name);

private:
    std::filesystem::path m_file;
    int m_eventCode;
    std::size_t m_skipped = 0;
};

// The default channel folder: "Eventlog" next to the executable.
std::filesystem::path eventlogFolder();

} // namespace ostrel::platform
