#pragma once

#include "platform/ChannelFile.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

namespace ostrel::platform {

// Yields the complete lines of an open file from its end towards its start, reading it in
// blocks, so that a caller who stops early pays only for the lines it looked at.
// Bytes after the last "\n" are left out: they belong to a line still being written.
// A line longer than the limit is passed over and counted, and never held whole: memory
// stays within about the limit and one block whatever the file holds.
class ReverseLineReader {
public:
    static constexpr std::size_t DefaultBlockSize = 64 * 1024;
    static constexpr std::size_t NoLimit = std::numeric_limits<std::size_t>::max();

    // The file stays owned by the caller and must stay open while the reader is used; fileSize
    // is the size the file had when reading began, and nothing appended later is read.
    ReverseLineReader(const ChannelFile& channelFile, std::uint64_t fileSize, std::filesystem::path file,
                      std::size_t blockSize = DefaultBlockSize, std::size_t maxLineBytes = NoLimit);

    // The line before the one returned last, without its "\n"; nullopt once the first line of
    // the file was returned. Lines longer than the limit are passed over. The text stays valid
    // until the next call. Raises EOleException when the file cannot be read.
    std::optional<std::string_view> previousLine();

    // Lines passed over so far for being longer than the limit.
    std::size_t longLinesSkipped() const { return m_longLines; }

private:
    enum class PieceKind { Line, TooLong, End };
    struct Piece {
        PieceKind kind;
        std::string_view text;
    };
    Piece previousPiece();
    bool readBlockBefore();

    const ChannelFile& m_channelFile;
    std::filesystem::path m_file;
    std::size_t m_blockSize;
    std::size_t m_maxLineBytes;
    // m_buffer[0, m_unread) holds the file bytes from m_bufferOffset on that no line returned yet covers.
    std::vector<char> m_buffer;
    std::size_t m_unread = 0;
    std::uint64_t m_bufferOffset;
    bool m_atStart = false;
    std::size_t m_longLines = 0;
};

} // namespace ostrel::platform
