#include "platform/XrdpLogSource.h"

#include "common/Fnv1a.h"
#include "platform/linux/FileDescriptor.h"
#include "platform/linux/GzipFile.h"
#include "platform/linux/XrdpLogPosition.h"
#include "platform/portable/ChannelFileError.h"
#include "platform/portable/XrdpLogLine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::platform {
namespace {

constexpr std::size_t BlockSize = 64 * 1024;
constexpr std::size_t TailBytes = 64;
// Rotations the source follows back while their lines are not all read; older ones are let go.
constexpr std::size_t MaxGenerations = 8;
// The most text a compressed rotated copy is inflated to; a larger one is not read.
constexpr std::uint64_t MaxInflatedBytes = 256ull * 1024 * 1024;

SystemError lastError() {
    const int code = errno;
    return {static_cast<std::uint32_t>(code), std::strerror(code), code == ENOENT};
}

struct OpenFile {
    FileDescriptor fd;
    std::shared_ptr<const std::string> inflated; // the text of a compressed copy, read whole
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0; // of the text
};

bool isGzip(const std::filesystem::path& path) {
    return path.extension() == ".gz";
}

// nullopt when there is no such file; anything but a regular file is refused, as the channel
// file is (a FIFO in its place would hold the pass for good).
std::optional<OpenFile> openFile(const std::filesystem::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd) {
        const SystemError error = lastError();
        if (error.notFound)
            return std::nullopt;
        throw channelFileError("open", path, error);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0)
        throw channelFileError("read", path, lastError());
    if (!S_ISREG(status.st_mode))
        throw channelFileError("open", path, "it is no regular file");
    OpenFile file;
    file.fd = std::move(fd);
    file.device = static_cast<std::uint64_t>(status.st_dev);
    file.inode = static_cast<std::uint64_t>(status.st_ino);
    file.size = static_cast<std::uint64_t>(status.st_size);
    return file;
}

std::size_t readAt(const OpenFile& file, const std::filesystem::path& path, std::uint64_t offset, char* buffer,
                   std::size_t length) {
    if (file.inflated) {
        if (offset >= file.inflated->size())
            return 0;
        const std::size_t count = std::min<std::size_t>(length, file.inflated->size() - offset);
        std::copy_n(file.inflated->data() + offset, count, buffer);
        return count;
    }
    const ssize_t got = platform::readAt(file.fd.get(), buffer, length, offset);
    if (got < 0)
        throw channelFileError("read", path, lastError());
    return static_cast<std::size_t>(got);
}

// The bytes just before `end` (fewer when the file is shorter now).
std::string tailBefore(const OpenFile& file, const std::filesystem::path& path, std::uint64_t end) {
    const std::uint64_t from = end > TailBytes ? end - TailBytes : 0;
    std::string bytes(static_cast<std::size_t>(end - from), '\0');
    bytes.resize(readAt(file, path, from, bytes.data(), bytes.size()));
    return bytes;
}

// Where the last complete line of the file ends (0 when it has none).
std::uint64_t lastLineEnd(const OpenFile& file, const std::filesystem::path& path) {
    std::vector<char> block(BlockSize);
    std::uint64_t end = file.size;
    while (end > 0) {
        const std::uint64_t from = end > BlockSize ? end - BlockSize : 0;
        const std::size_t got = readAt(file, path, from, block.data(), static_cast<std::size_t>(end - from));
        for (std::size_t i = got; i > 0; --i) {
            if (block[i - 1] == '\n')
                return from + i;
        }
        end = from;
    }
    return 0;
}

// Calls `visit` with each complete line that ends after `from` and at or before `to`, without
// its "\n" (NUL bytes, which a writer leaves when the file was cut under it, and a trailing "\r"
// taken off). Returns where the last complete line ends (`from` when there is none).
std::uint64_t forEachLine(const OpenFile& file, const std::filesystem::path& path, std::uint64_t from, std::uint64_t to,
                          std::size_t maxLineBytes, std::size_t& longLines,
                          const std::function<void(std::string_view, std::uint64_t)>& visit) {
    std::vector<char> block(BlockSize);
    std::string line;
    bool tooLong = false;
    std::uint64_t lastEnd = from;
    for (std::uint64_t offset = from; offset < to;) {
        const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(BlockSize, to - offset));
        const std::size_t got = readAt(file, path, offset, block.data(), wanted);
        if (got == 0)
            break; // cut while being read: the rest is found at the next look
        for (std::size_t i = 0; i < got; ++i) {
            const char c = block[i];
            if (c == '\n') {
                lastEnd = offset + i + 1;
                if (tooLong)
                    ++longLines;
                else {
                    if (!line.empty() && line.back() == '\r')
                        line.pop_back();
                    visit(line, lastEnd);
                }
                line.clear();
                tooLong = false;
            } else if (!tooLong && c != '\0') {
                if (line.size() >= maxLineBytes) {
                    tooLong = true; // never held whole: the rest of it is passed over
                    line.clear();
                } else
                    line += c;
            }
        }
        offset += got;
    }
    return lastEnd;
}

bool sameFile(const OpenFile& file, const XrdpLogGeneration& generation) {
    return file.device == generation.device && file.inode == generation.inode;
}

// Whether `file` holds what the generation had seen: at least as long, the same bytes before its end.
bool holdsSeenLines(const OpenFile& file, const std::filesystem::path& path, const XrdpLogGeneration& generation) {
    return file.size >= generation.end && tailBefore(file, path, generation.end) == generation.tail;
}

struct Sibling {
    OpenFile file;
    std::filesystem::path path;
};

// A rotated copy compressed with gzip, as its text; nullopt when it cannot hold `seenBytes` bytes
// (its stated size is looked at before it is inflated) or is no complete gzip file.
std::optional<OpenFile> inflatedCopy(OpenFile file, std::uint64_t seenBytes) {
    const std::optional<std::uint32_t> stated = gzipStatedSize(file.fd.get(), file.size);
    if (!stated || (*stated < seenBytes && seenBytes < (std::uint64_t{1} << 32)))
        return std::nullopt;
    std::optional<std::string> text = inflateGzip(file.fd.get(), MaxInflatedBytes);
    if (!text)
        return std::nullopt;
    file.size = text->size();
    file.inflated = std::make_shared<const std::string>(std::move(*text));
    return file;
}

// The rotated file that holds a generation's lines beside the log ("xrdp-sesman.log.1",
// "xrdp-sesman.log-20261210", "xrdp-sesman.log.1.gz", ...): the same file renamed, or a copy
// (plain or gzip-compressed, as logrotate's "compress" leaves it) with the same bytes up to where
// the generation was read. Copies compressed otherwise are not read.
std::optional<Sibling> findRotated(const std::filesystem::path& log, const XrdpLogGeneration& generation,
                                   bool sameInodeOnly, const OpenFile* excluded) {
    const std::string prefix = log.filename().string();
    std::error_code error;
    std::filesystem::directory_iterator entries(log.parent_path().empty() ? "." : log.parent_path(), error);
    if (error)
        return std::nullopt;
    std::optional<Sibling> copy;
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (name.size() <= prefix.size() || !name.starts_with(prefix) || name.ends_with(".xz") ||
            name.ends_with(".bz2") || name.ends_with(".zst"))
            continue;
        std::optional<OpenFile> file;
        try {
            file = openFile(entry.path());
        } catch (const EOleException&) {
            continue; // not a file this log could have become
        }
        if (!file || (excluded && file->device == excluded->device && file->inode == excluded->inode))
            continue;
        const bool renamed = sameFile(*file, generation);
        if (!renamed && (sameInodeOnly || generation.tail.empty()))
            continue;
        if (isGzip(entry.path())) {
            file = inflatedCopy(std::move(*file), generation.end);
            if (!file)
                continue;
        }
        if (!holdsSeenLines(*file, entry.path(), generation))
            continue;
        if (renamed)
            return Sibling{std::move(*file), entry.path()};
        if (!copy)
            copy = Sibling{std::move(*file), entry.path()};
    }
    return copy;
}

XrdpLogGeneration freshGeneration(const OpenFile& file, std::int64_t base, std::uint64_t start, std::string tail) {
    XrdpLogGeneration generation;
    generation.device = file.device;
    generation.inode = file.inode;
    generation.base = base;
    generation.start = start;
    generation.end = start;
    generation.tail = std::move(tail);
    return generation;
}

// When the log is no longer the file it was, closes the last generation where its lines end
// (in its rotated file when that is found) and opens one for the log as it is now.
void followRotation(XrdpLogPosition& position, const std::filesystem::path& log, const OpenFile& current) {
    XrdpLogGeneration& last = position.generations.back();
    std::optional<Sibling> rotated;
    if (sameFile(current, last)) {
        if (holdsSeenLines(current, log, last))
            return; // the same file, grown or not
        // Cut in place (copytruncate), perhaps already written past where it was: the copy holds the rest.
        rotated = findRotated(log, last, false, &current);
    } else {
        rotated = findRotated(log, last, true, &current); // renamed away, a new file in its place
        if (!rotated)
            rotated = findRotated(log, last, false, &current); // cut in place first, then renamed
    }
    std::uint64_t limit = last.end;
    if (rotated) {
        limit = std::max(limit, lastLineEnd(rotated->file, rotated->path));
        last.device = rotated->file.device;
        last.inode = rotated->file.inode;
    } else {
        last.device = last.inode = 0; // its unread lines are gone (deleted, or compressed other than by gzip)
    }
    last.limit = limit;
    const std::int64_t base = last.lastNumber();
    position.generations.push_back(freshGeneration(current, base, 0, {}));
    if (position.generations.size() > MaxGenerations)
        position.generations.erase(position.generations.begin());
}

struct Reading {
    std::vector<EventRecord> records; // oldest first
    std::optional<std::int64_t> newestLine;
    std::size_t skipped = 0;
};

// Reads one generation's lines above the mark; returns where its last complete line read ends.
std::uint64_t readGeneration(const XrdpLogGeneration& generation, const OpenFile& file,
                             const std::filesystem::path& path, std::int64_t mark, std::uint64_t to,
                             std::size_t maxLineBytes, Reading& reading) {
    const std::uint64_t from =
        generation.start + static_cast<std::uint64_t>(std::max<std::int64_t>(0, mark - generation.base));
    if (from >= to)
        return from;
    return forEachLine(file, path, from, to, maxLineBytes, reading.skipped,
                       [&](std::string_view text, std::uint64_t lineEnd) {
                           const std::int64_t number = generation.numberAt(lineEnd);
                           reading.newestLine = number;
                           const XrdpLogLine line = readXrdpLogLine(text);
                           if (line.kind == XrdpLogLine::Kind::FailedLogon)
                               reading.records.push_back({number, std::nullopt, std::vector{line.address}});
                           else if (line.kind == XrdpLogLine::Kind::UnreadableLogon)
                               ++reading.skipped;
                       });
}

} // namespace

std::filesystem::path xrdpClaimFile(const std::filesystem::path& log) {
    std::error_code ignored;
    std::filesystem::path absolute =
        std::filesystem::weakly_canonical(std::filesystem::absolute(log, ignored), ignored);
    if (absolute.empty())
        absolute = std::filesystem::absolute(log, ignored).lexically_normal();
    // /run/lock is the machine's (on tmpfs, world-writable with the sticky bit); the service's
    // unit lets it write there. The path is written as a channel's name is in its file name.
    return std::filesystem::path("/run/lock") /
           ("rdp-ostrel-xrdp" + ChannelFileSource::fileNameText(absolute.string()) + ".guard");
}

std::filesystem::path xrdpSharedPositionFile(const std::filesystem::path& log, const std::string& markPlace) {
    char name[32];
    std::snprintf(name, sizeof name, ".%016llx.position", static_cast<unsigned long long>(fnv1a(markPlace)));
    std::filesystem::path file = xrdpClaimFile(log);
    file.replace_extension(name);
    return file;
}

namespace {

// The position a file holds for `log`; nullopt for none, another log's, or (`ownOnly`) a file
// another user owns: in the machine's lock folder anybody may have put it there.
std::optional<XrdpLogPosition> positionIn(const std::filesystem::path& file, const std::filesystem::path& log,
                                          bool ownOnly) {
    if (file.empty())
        return std::nullopt;
    if (ownOnly) {
        struct stat status {};
        if (::lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid())
            return std::nullopt;
    }
    std::optional<XrdpLogPosition> position = readXrdpLogPosition(file);
    if (position && position->log != log.string())
        position.reset();
    return position;
}

} // namespace

XrdpLogSource::XrdpLogSource(std::filesystem::path log, std::filesystem::path positionFile, std::size_t maxLineBytes)
    : m_log(std::move(log)), m_positionFile(std::move(positionFile)), m_maxLineBytes(maxLineBytes) {}

std::vector<EventRecord> XrdpLogSource::recordsAbove(std::int64_t recordNumber) {
    m_skipped = 0;
    const std::optional<OpenFile> current = openFile(m_log);
    if (!current)
        return {}; // no failed logon logged yet; a renamed log is followed once its successor exists

    // The machine's shared numbering goes first: while this guard did not read the log, another
    // guard of the machine may have, and its numbers are the ones the stored mark is in.
    const std::optional<XrdpLogPosition> own = positionIn(m_positionFile, m_log, false);
    const std::optional<XrdpLogPosition> shared = positionIn(m_sharedPositionFile, m_log, true);
    const std::optional<XrdpLogPosition> kept = shared ? shared : own;
    const auto keep = [&](const XrdpLogPosition& position) {
        if (!own || !(position == *own))
            writeXrdpLogPosition(m_positionFile, position);
        if (!m_sharedPositionFile.empty() && (!shared || !(position == *shared))) {
            try {
                writeXrdpLogPosition(m_sharedPositionFile, position);
            } catch (const std::exception&) {
                // Not to be written here (another user's guard keeps it, or there is no lock
                // folder): this guard goes on with its own.
            }
        }
    };
    XrdpLogPosition position;
    position.log = m_log.string();
    if (recordNumber <= 0) {
        // A first run reads the whole log as it is.
        position.generations.push_back(freshGeneration(*current, 0, 0, {}));
    } else if (!kept || recordNumber < kept->mark || recordNumber < kept->generations.front().base ||
               recordNumber > kept->generations.back().numberAt(kept->generations.back().end)) {
        // A mark this log never gave: what the log holds now is history, what comes after counts.
        const std::uint64_t end = lastLineEnd(*current, m_log);
        position.generations.push_back(freshGeneration(*current, recordNumber, end, tailBefore(*current, m_log, end)));
        position.mark = recordNumber;
        keep(position);
        return {};
    } else {
        position = *kept;
        followRotation(position, m_log, *current);
    }
    position.mark = recordNumber;

    // Rotated files whose lines the mark has passed are let go; the others are read to their limit.
    std::erase_if(position.generations, [&](const XrdpLogGeneration& generation) {
        return generation.limit && recordNumber >= generation.lastNumber();
    });
    Reading reading;
    for (std::size_t i = 0; i + 1 < position.generations.size(); ++i) {
        XrdpLogGeneration& generation = position.generations[i];
        std::optional<Sibling> rotated = findRotated(m_log, generation, true, &*current);
        if (!rotated) {
            // Compressed since it was found (logrotate copies, then gzips the copy into a new file
            // and deletes it): the same bytes under another name.
            rotated = findRotated(m_log, generation, false, &*current);
            if (rotated) {
                generation.device = rotated->file.device;
                generation.inode = rotated->file.inode;
            }
        }
        if (rotated)
            readGeneration(generation, rotated->file, rotated->path, recordNumber, *generation.limit, m_maxLineBytes,
                           reading);
    }
    XrdpLogGeneration& now = position.generations.back();
    const std::uint64_t end =
        readGeneration(now, *current, m_log, recordNumber, current->size, m_maxLineBytes, reading);
    if (end > now.end) {
        now.end = end;
        now.tail = tailBefore(*current, m_log, end);
    }
    // Kept before any number of it is handed out, so a restart numbers the lines the same way;
    // a pass that found nothing new leaves the files as they are.
    keep(position);

    m_skipped = reading.skipped;
    std::vector<EventRecord> records;
    records.reserve(reading.records.size() + 1);
    if (reading.newestLine && (reading.records.empty() || reading.records.back().RecordNumber != *reading.newestLine))
        records.push_back({*reading.newestLine, std::nullopt, std::nullopt});
    records.insert(records.end(), std::make_move_iterator(reading.records.rbegin()),
                   std::make_move_iterator(reading.records.rend()));
    return records;
}

} // namespace ostrel::platform
