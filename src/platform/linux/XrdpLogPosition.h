#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::platform {

// One file the xrdp log has had, and how its lines are numbered: a line ending at byte offset E
// (E > start) has the number base + (E - start).
struct XrdpLogGeneration {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t base = 0;
    std::uint64_t start = 0;
    std::uint64_t end = 0;              // where the last complete line seen ends
    std::optional<std::uint64_t> limit; // set once the log moved on: lines ending after it are not its
    std::string tail;                   // the bytes just before `end`, to know the file again

    bool operator==(const XrdpLogGeneration&) const = default;

    std::int64_t numberAt(std::uint64_t lineEnd) const { return base + static_cast<std::int64_t>(lineEnd - start); }
    // The number after which the next file's lines begin.
    std::int64_t lastNumber() const { return numberAt(limit ? *limit : end); }
};

// What the xrdp source keeps between its calls and across restarts: the log's files, oldest
// first (the last one is the log as it is now), and the mark it was last asked with.
struct XrdpLogPosition {
    std::string log;
    std::int64_t mark = 0;
    std::vector<XrdpLogGeneration> generations;

    bool operator==(const XrdpLogPosition&) const = default;
};

// nullopt when the file is missing or not one of ours (it is then learned afresh).
std::optional<XrdpLogPosition> readXrdpLogPosition(const std::filesystem::path& file);
// Replaces the file as a whole (written beside it, then renamed), so a crash leaves the old one
// or the new one. Raises EOleException when it cannot be written.
void writeXrdpLogPosition(const std::filesystem::path& file, const XrdpLogPosition& position);

} // namespace ostrel::platform
