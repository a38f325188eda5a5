#include "platform/portable/ChannelFileWriter.h"

#include "common/Errors.h"
#include "platform/ChannelFile.h"
#include "platform/portable/ChannelFileSource.h"
#include "platform/portable/ChannelRecordLine.h"
#include "platform/portable/ReverseLineReader.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <nlohmann/json.hpp>

namespace ostrel::platform {
namespace {

EInOutError writeError(const std::string& action, const std::filesystem::path& file, const SystemError& error) {
    return EInOutError("Cannot " + action + " the channel file " + file.string() + ": " + error.text);
}

std::string utcTimestamp() {
    using namespace std::chrono;
    const auto now = time_point_cast<microseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date(day);
    const hh_mm_ss time(now - day);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%06lldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<long long>(time.subseconds().count()));
    return text;
}

// The number of the last record in the file, 0 when it holds none; damaged and overlong lines
// are passed over.
std::int64_t lastRecordNumber(const ChannelFile& channelFile, std::uint64_t size, const std::filesystem::path& file) {
    ReverseLineReader reader(channelFile, size, file, ReverseLineReader::DefaultBlockSize,
                             ChannelFileSource::MaxLineBytes);
    while (const auto line = reader.previousLine()) {
        if (const auto record = parseChannelRecordLine(*line))
            return record->RecordNumber;
    }
    return 0;
}

bool endsInLineBreak(const ChannelFile& channelFile, std::uint64_t size, const std::filesystem::path& file) {
    if (size == 0)
        return true;
    char last = 0;
    SystemError error;
    const auto got = channelFile.readAt(size - 1, &last, 1, error);
    if (!got)
        throw writeError("read", file, error);
    if (*got != 1)
        throw writeError("read", file, ChannelFile::endedEarly());
    return last == '\n';
}

std::string recordLine(std::int64_t number, const std::string& timeCreated, const NewChannelRecord& record) {
    nlohmann::ordered_json line;
    line["RecordNumber"] = number;
    line["EventCode"] = record.EventCode;
    line["TimeCreated"] = timeCreated;
    line["Data"] = record.Data ? nlohmann::ordered_json(*record.Data) : nlohmann::ordered_json(nullptr);
    line["InsertionStrings"] =
        record.InsertionStrings ? nlohmann::ordered_json(*record.InsertionStrings) : nlohmann::ordered_json(nullptr);
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + '\n';
}

} // namespace

ChannelFileWriter::ChannelFileWriter(std::filesystem::path folder, const std::string& channel)
    : m_folder(std::move(folder)), m_file(ChannelFileSource::fileFor(m_folder, channel)) {}

std::int64_t ChannelFileWriter::append(const std::vector<NewChannelRecord>& records) {
    if (records.empty())
        return 0;
    std::error_code folderError;
    std::filesystem::create_directories(m_folder, folderError);
    if (folderError)
        throw EInOutError("Cannot create the channel folder " + m_folder.string() + ": " + folderError.message());

    ChannelFile file;
    SystemError error;
    if (!file.openForAppending(m_file, error))
        throw writeError("open", m_file, error);
    // Held until the file closes, on every path: reading the last number and appending after it
    // must be one step for all writers.
    if (!file.lockExclusive(error))
        throw writeError("lock", m_file, error);
    const auto size = file.size(error);
    if (!size)
        throw writeError("read", m_file, error);

    const std::int64_t last = lastRecordNumber(file, *size, m_file);
    // Numbers only grow; past the largest 64-bit number they would start again below every
    // mark, and the guard would never read them.
    if (last > std::numeric_limits<std::int64_t>::max() - static_cast<std::int64_t>(records.size()))
        throw EInOutError("Cannot append " + std::to_string(records.size()) + " records to the channel file " +
                          m_file.string() + ": its last record number " + std::to_string(last) +
                          " leaves no room below the largest record number " +
                          std::to_string(std::numeric_limits<std::int64_t>::max()));
    const std::int64_t first = last + 1;
    const std::string timeCreated = utcTimestamp();
    std::string batch;
    // A writer that died mid-line left a fragment; it stays a damaged line of its own.
    if (!endsInLineBreak(file, *size, m_file))
        batch += '\n';
    // Numbered by offset from the first, so that the last may be the largest 64-bit number.
    for (std::size_t i = 0; i < records.size(); ++i)
        batch += recordLine(first + static_cast<std::int64_t>(i), timeCreated, records[i]);
    if (!file.append(batch, error))
        throw writeError("write", m_file, error);
    return first;
}

} // namespace ostrel::platform
