#include "platform/ChannelFileError.h"
#include "platform/ChannelRecordLine.h"
#include "platform/ReverseLineReader.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>

namespace ostrel::platform {
namespace {

bool isBlank(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c) != 0; });
}

} // namespace

ChannelFileSource::ChannelFileSource(std::filesystem::path folder, std::string channel, int eventCode)
    : m_file(fileFor(folder, channel)), m_eventCode(eventCode) {}

std::filesystem::path ChannelFileSource::fileFor(const std::filesystem::path& folder, const std::string& channel) {
    std::string name;
    name.reserve(channel.size() + 8);
    for (char c : channel) {
        if (c == '/')
            name += "%4"; // how the event log itself names a channel's file
        else
            name += c;
    }
    return folder / (name + ".jsonl");
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
    while (const auto line = reader.previousLine()) {
        if (isBlank(*line))
            continue;
        auto record = parseChannelRecordLine(*line);
        if (!record) {
            ++m_skipped;
            continue;
        }
        // Numbers grow through the file, so the first one at or below the mark ends what is new,
        // also when the channel started its numbers again below the mark.
        if (record->RecordNumber <= recordNumber)
            break;
        if (record->EventCode == m_eventCode)
            records.push_back({record->RecordNumber, std::move(record->Data), std::move(record->InsertionStrings)});
    }
    m_skipped += reader.longLinesSkipped();
    return records;
}

std::filesystem::path eventlogFolder() {
    return executableFolder() / "Eventlog";
}

} // namespace ostrel::platform
