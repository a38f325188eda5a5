#include "platform/linux/ChannelFileError.h"
#include "platform/linux/ChannelRecordLine.h"
#include "platform/linux/FileDescriptor.h"
#include "platform/linux/ReverseLineReader.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace ostrel::platform {
namespace {

bool isBlank(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](unsigned char c) { return std::isspace(c) != 0; });
}

} // namespace

ChannelFileSource::ChannelFileSource(std::filesystem::path folder, std::string channel, int eventCode)
    : m_file(fileFor(folder, channel)), m_eventCode(eventCode) {}

std::vector<EventRecord> ChannelFileSource::recordsAbove(std::int64_t recordNumber) {
    m_skipped = 0;
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come and holds the
    // pass for good; the type is checked on the open descriptor, so nothing can swap it between.
    FileDescriptor file(::open(m_file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file) {
        if (errno == ENOENT)
            return {}; // a channel that never got a record
        throw channelFileError("open", m_file, errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        throw channelFileError("read", m_file, errno);
    if (S_ISDIR(status.st_mode))
        throw channelFileError("read", m_file, EISDIR);
    if (!S_ISREG(status.st_mode))
        throw channelFileError("read", m_file, "it is no regular file");

    std::vector<EventRecord> records;
    ReverseLineReader reader(file.get(), static_cast<std::uint64_t>(status.st_size), m_file,
                             ReverseLineReader::DefaultBlockSize, MaxLineBytes);
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

} // namespace ostrel::platform
