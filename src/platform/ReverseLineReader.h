#pragma once

#include "platform/ChannelFile.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace ostrel::platform {

// Yields the complete lines of an open file from its end towards its start, reading it in
// blocks, so that a caller who stops early pays only for the lines it looked at.
// Bytes after the last "\n" are left out: they belong to a line still being written.
class ReverseLineReader {
public:
    static constexpr std::size_t DefaultBlockSize = 64 * 1024;

    // The file stays owned by the caller and must stay open while the reader is used; fileSize
    // is the size the file had when reading began, and nothing appended later is read.
    ReverseLineReader(const ChannelFile& channelFile, std::uint64_t fileSize, std::filesystem::path file,
                      std::size_t blockSize = DefaultBlockSize);

    // The line before the one returned last, without its "\n"; nullopt once the first line of
    // the file was returned. The text stays valid until the next call.
    // Raises EOleException when the file cannot be read.
    std::optional<std::string_view> previousLine();

private:
    bool readBlockBefore();

    const ChannelFile& m_channelFile;
    std::filesystem::path m_file;
    std::size_t m_blockSize;
    // m_buffer[0, m_unread) holds the file bytes from m_bufferOffset on that no line returned yet covers.
    std::vector<char> m_buffer;
    std::size_t m_unread = 0;
    std::uint64_t m_bufferOffset;
    bool m_atStart = false;
};

} // namespace ostrel::platform
