#include "platform/ChannelFileWriter.h"

#include "common/Errors.h"
#include "platform/linux/ChannelRecordLine.h"
#include "platform/linux/FileDescriptor.h"
#include "platform/linux/ReverseLineReader.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <nlohmann/json.hpp>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::platform {
namespace {

EInOutError writeError(const std::string& action, const std::filesystem::path& file, int error) {
    return EInOutError("Cannot " + action + " the channel file " + file.string() + ": " + std::strerror(error));
}

std::string utcTimestamp() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto micros = duration_cast<microseconds>(now.time_since_epoch()).count() % 1'000'000;
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%06lldZ", static_cast<long long>(micros));
    return text;
}

// The number of the last record in the file, 0 when it holds none; damaged and overlong lines
// are passed over.
std::int64_t lastRecordNumber(int fd, std::uint64_t size, const std::filesystem::path& file) {
    ReverseLineReader reader(fd, size, file, ReverseLineReader::DefaultBlockSize, ChannelFileSource::MaxLineBytes);
    while (const auto line = reader.previousLine()) {
        if (const auto record = parseChannelRecordLine(*line))
            return record->RecordNumber;
    }
    return 0;
}

bool endsInLineBreak(int fd, std::uint64_t size, const std::filesystem::path& file) {
    if (size == 0)
        return true;
    char last = 0;
    if (::pread(fd, &last, 1, static_cast<off_t>(size - 1)) != 1)
        throw writeError("read", file, errno);
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

void writeAll(int fd, std::string_view bytes, const std::filesystem::path& file) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throw writeError("write", file, errno);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
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

    FileDescriptor file(::open(m_file.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!file)
        throw writeError("open", m_file, errno);
    // Held until the descriptor closes, on every path: reading the last number and appending
    // after it must be one step for all writers.
    while (::flock(file.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            throw writeError("lock", m_file, errno);
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        throw writeError("read", m_file, errno);
    const auto size = static_cast<std::uint64_t>(status.st_size);

    const std::int64_t last = lastRecordNumber(file.get(), size, m_file);
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
    if (!endsInLineBreak(file.get(), size, m_file))
        batch += '\n';
    std::int64_t number = first;
    for (const NewChannelRecord& record : records)
        batch += recordLine(number++, timeCreated, record);
    writeAll(file.get(), batch, m_file);
    return first;
}

} // namespace ostrel::platform
