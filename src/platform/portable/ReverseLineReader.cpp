#include "platform/portable/ReverseLineReader.h"

#include "platform/portable/ChannelFileError.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace ostrel::platform {

ReverseLineReader::ReverseLineReader(const ChannelFile& channelFile, std::uint64_t fileSize, std::filesystem::path file,
                                     std::size_t blockSize, std::size_t maxLineBytes)
    : m_channelFile(channelFile), m_file(std::move(file)), m_blockSize(blockSize), m_maxLineBytes(maxLineBytes),
      m_bufferOffset(fileSize) {
    // Whatever follows the last "\n" (nothing, for a file that ends in one) is a line still being
    // appended: dropped, and not counted even when it is long.
    previousPiece();
}

std::optional<std::string_view> ReverseLineReader::previousLine() {
    for (;;) {
        const Piece piece = previousPiece();
        switch (piece.kind) {
        case PieceKind::Line:
            return piece.text;
        case PieceKind::TooLong:
            ++m_longLines;
            continue;
        case PieceKind::End:
            return std::nullopt;
        }
    }
}

ReverseLineReader::Piece ReverseLineReader::previousPiece() {
    if (m_atStart)
        return {PieceKind::End, {}};
    // Set once the line at hand outgrew the limit: its bytes are dropped as they come, and
    // only its start is still looked for.
    bool tooLong = false;
    for (;;) {
        if (m_unread > 0) {
            const char* data = m_buffer.data();
            const std::size_t lineBreak = std::string_view(data, m_unread).rfind('\n');
            if (lineBreak != std::string_view::npos) {
                const std::size_t lineStart = lineBreak + 1;
                const std::string_view line(data + lineStart, m_unread - lineStart);
                m_unread = lineStart - 1;
                if (tooLong || line.size() > m_maxLineBytes)
                    return {PieceKind::TooLong, {}};
                return {PieceKind::Line, line};
            }
            if (m_unread > m_maxLineBytes) {
                tooLong = true;
                m_unread = 0;
            }
        }
        if (!readBlockBefore()) {
            m_atStart = true;
            if (tooLong || m_unread > m_maxLineBytes)
                return {PieceKind::TooLong, {}};
            return {PieceKind::Line, std::string_view(m_buffer.data(), m_unread)};
        }
    }
}

bool ReverseLineReader::readBlockBefore() {
    if (m_bufferOffset == 0)
        return false;
    const std::size_t blockLength = static_cast<std::size_t>(std::min<std::uint64_t>(m_blockSize, m_bufferOffset));
    // The unread part is at most the beginning of one line; it moves behind the new block.
    if (m_buffer.size() < blockLength + m_unread)
        m_buffer.resize(std::max(blockLength + m_unread, 2 * m_buffer.size()));
    std::memmove(m_buffer.data() + blockLength, m_buffer.data(), m_unread);

    const std::uint64_t blockOffset = m_bufferOffset - blockLength;
    std::size_t done = 0;
    while (done < blockLength) {
        SystemError error;
        const auto got = m_channelFile.readAt(blockOffset + done, m_buffer.data() + done, blockLength - done, error);
        if (!got)
            throw channelFileError("read", m_file, error);
        if (*got == 0)
            throw channelFileError("read", m_file, ChannelFile::endedEarly()); // the file shrank while it was read
        done += *got;
    }
    m_bufferOffset = blockOffset;
    m_unread += blockLength;
    return true;
}

} // namespace ostrel::platform
