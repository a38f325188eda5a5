#include "platform/linux/GzipFile.h"

#include "platform/linux/FileDescriptor.h"

#include <vector>
#include <zlib.h>

namespace ostrel::platform {
namespace {

constexpr std::size_t ChunkBytes = 64 * 1024;
// zlib's window bits for a gzip wrapper only (no raw deflate, no zlib header).
constexpr int GzipWindowBits = 15 + 16;

// Owns one inflate stream.
class InflateStream {
public:
    InflateStream() { m_ready = inflateInit2(&m_stream, GzipWindowBits) == Z_OK; }
    ~InflateStream() {
        if (m_ready)
            inflateEnd(&m_stream);
    }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    bool ready() const { return m_ready; }
    z_stream& get() { return m_stream; }

private:
    z_stream m_stream{};
    bool m_ready = false;
};

} // namespace

std::optional<std::uint32_t> gzipStatedSize(int fd, std::uint64_t fileSize) {
    // A header of ten bytes, an empty body of two and the trailer's eight.
    if (fileSize < 20)
        return std::nullopt;
    unsigned char trailer[4];
    if (readAt(fd, trailer, sizeof trailer, fileSize - 4) != static_cast<ssize_t>(sizeof trailer))
        return std::nullopt;
    return static_cast<std::uint32_t>(trailer[0]) | static_cast<std::uint32_t>(trailer[1]) << 8 |
           static_cast<std::uint32_t>(trailer[2]) << 16 | static_cast<std::uint32_t>(trailer[3]) << 24;
}

std::optional<std::string> inflateGzip(int fd, std::uint64_t maxBytes) {
    InflateStream inflater;
    if (!inflater.ready())
        return std::nullopt;
    z_stream& stream = inflater.get();
    std::vector<unsigned char> in(ChunkBytes);
    std::vector<char> out(ChunkBytes);
    std::string text;
    std::uint64_t offset = 0;
    bool memberEnded = false;
    for (;;) {
        const ssize_t got = readAt(fd, in.data(), in.size(), offset);
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return memberEnded ? std::optional<std::string>(std::move(text)) : std::nullopt; // cut short
        offset += static_cast<std::uint64_t>(got);
        stream.next_in = in.data();
        stream.avail_in = static_cast<uInt>(got);
        while (stream.avail_in > 0) {
            if (memberEnded) {
                // Another member follows (gzip files may be concatenated).
                if (inflateReset(&stream) != Z_OK)
                    return std::nullopt;
                memberEnded = false;
            }
            stream.next_out = reinterpret_cast<Bytef*>(out.data());
            stream.avail_out = static_cast<uInt>(out.size());
            const int result = inflate(&stream, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                return std::nullopt;
            const std::size_t produced = out.size() - stream.avail_out;
            if (text.size() + produced > maxBytes)
                return std::nullopt;
            text.append(out.data(), produced);
            if (result == Z_STREAM_END)
                memberEnded = true;
            else if (result == Z_BUF_ERROR && produced == 0)
                break; // needs more input
        }
    }
}

} // namespace ostrel::platform
