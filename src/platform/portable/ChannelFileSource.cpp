#include "platform/portable/ChannelFileSource.h"

#include "platform/EventSource.h"
#include "platform/FileWatch.h"
#include "platform/System.h"
#include "platform/portable/ChannelFileError.h"
#include "platform/portable/ChannelRecordLine.h"
#include "platform/portable/ReverseLineReader.h"

#include <algorithm>
#include <cctype>

namespace ostrel::platform {
namespace {

bool isBlank(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c) != 0; });
}

// Record numbers start at 1 and grow line by line; one that does not fall when read backwards was
// written out of order (by hand, or by a broken writer), and taking it would end the read early
// or move the mark past every record to come.
bool fitsBefore(std::int64_t number, std::optional<std::int64_t> after) {
    return number > 0 && (!after || number < *after);
}

} // namespace

ChannelFileSource::ChannelFileSource(std::filesystem::path folder, std::string channel, int eventCode)
    : m_file(fileFor(folder, channel)), m_eventCode(eventCode) {}

std::filesystem::path ChannelFileSource::fileFor(const std::filesystem::path& folder, const std::string& channel) {
    return folder / (fileNameText(channel) + ".jsonl");
}

std::string ChannelFileSource::fileNameText(const std::string& name) {
    std::string text;
    text.reserve(name.size() + 8);
    for (char c : name) {
        if (c == '/')
            text += "%4"; // how the event log itself names a channel's file
        else
            text += c;
    }
    return text;
}

std::string ChannelFileSource::description() const {
    return "the channel file " + m_file.string();
}

std::unique_ptr<SourceWatch> ChannelFileSource::watch(std::function<void()> onChange) {
    return watchFile(m_file, std::move(onChange));
}

std::vector<EventRecord> ChannelFileSource::recordsAbove(std::int64_t recordNumber) {
    m_skipped = 0;
    ChannelFile file;
    SystemError error;
    if (!file.openForReading(m_file, error)) {
        if (error.notFound)
            return {}; // a channel that never got a record
        throw channelFileError("open", m_file, error);
    }
    const auto size = file.size(error);
    if (!size)
        throw channelFileError("read", m_file, error);

    std::vector<EventRecord> records;
    ReverseLineReader reader(file, *size, m_file, ReverseLineReader::DefaultBlockSize, MaxLineBytes);
    std::optional<std::int64_t> after; // the number of the record after this line, read before it
    while (const auto line = reader.previousLine()) {
        if (isBlank(*line))
            continue;
        auto record = parseChannelRecordLine(*line);
        if (!record || !fitsBefore(record->RecordNumber, after)) {
            ++m_skipped;
            continue;
        }
        after = record->RecordNumber;
        // Numbers grow through the file, so the first one at or below the mark ends what is new.
        if (record->RecordNumber <= recordNumber)
            break;
        if (record->EventCode == m_eventCode)
            records.push_back({record->RecordNumber, std::move(record->Data), std::move(record->InsertionStrings)});
    }
    m_skipped += reader.longLinesSkipped();
    return records;
}

std::optional<EventRecord> ChannelFileSource::recordAt(std::int64_t recordNumber) {
    const std::size_t skipped = m_skipped;
    std::vector<EventRecord> records = recordsAbove(recordNumber - 1);
    m_skipped = skipped;
    if (records.empty() || records.back().RecordNumber != recordNumber)
        return std::nullopt;
    return std::move(records.back());
}

std::optional<std::int64_t> ChannelFileSource::newestRecordNumber() {
    ChannelFile file;
    SystemError error;
    if (!file.openForReading(m_file, error)) {
        if (error.notFound)
            return std::nullopt;
        throw channelFileError("open", m_file, error);
    }
    const auto size = file.size(error);
    if (!size)
        throw channelFileError("read", m_file, error);
    ReverseLineReader reader(file, *size, m_file, ReverseLineReader::DefaultBlockSize, MaxLineBytes);
    while (const auto line = reader.previousLine()) {
        if (isBlank(*line))
            continue;
        if (const auto record = parseChannelRecordLine(*line); record && fitsBefore(record->RecordNumber, std::nullopt))
            return record->RecordNumber;
    }
    return std::nullopt;
}

std::filesystem::path eventlogFolder() {
    return executableFolder() / "Eventlog";
}

} // namespace ostrel::platform
