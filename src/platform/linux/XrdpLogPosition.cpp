#include "platform/linux/XrdpLogPosition.h"

#include "platform/linux/FileDescriptor.h"
#include "platform/portable/ChannelFileError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdlib.h>
#include <unistd.h>

namespace ostrel::platform {
namespace {

constexpr const char* Header = "rdp-ostrel xrdp log position 1";

std::string hexOf(const std::string& bytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += Digits[c >> 4];
        text += Digits[c & 0x0F];
    }
    return text.empty() ? "-" : text;
}

std::optional<std::string> bytesOf(const std::string& hex) {
    if (hex == "-")
        return std::string();
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(hex.c_str() + i, "%2x", &value) != 1)
            return std::nullopt;
        bytes += static_cast<char>(value);
    }
    return bytes;
}

} // namespace

std::optional<XrdpLogPosition> readXrdpLogPosition(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line) || line != Header)
        return std::nullopt;
    XrdpLogPosition position;
    if (!std::getline(in, position.log) || !(in >> position.mark))
        return std::nullopt;
    std::string word;
    while (in >> word) {
        if (word != "file")
            return std::nullopt;
        XrdpLogGeneration generation;
        std::string limit;
        std::string tail;
        if (!(in >> generation.device >> generation.inode >> generation.base >> generation.start >> generation.end >>
              limit >> tail))
            return std::nullopt;
        if (limit != "-")
            generation.limit = std::stoull(limit);
        const std::optional<std::string> bytes = bytesOf(tail);
        if (!bytes)
            return std::nullopt;
        generation.tail = *bytes;
        position.generations.push_back(std::move(generation));
    }
    if (position.generations.empty())
        return std::nullopt;
    return position;
}

void writeXrdpLogPosition(const std::filesystem::path& file, const XrdpLogPosition& position) {
    std::ostringstream text;
    text << Header << '\n' << position.log << '\n' << position.mark << '\n';
    for (const XrdpLogGeneration& generation : position.generations) {
        text << "file " << generation.device << ' ' << generation.inode << ' ' << generation.base << ' '
             << generation.start << ' ' << generation.end << ' '
             << (generation.limit ? std::to_string(*generation.limit) : std::string("-")) << ' '
             << hexOf(generation.tail) << '\n';
    }
    // A temporary of its own, made where nothing was (never through a link): the shared copy lies
    // in a folder every user may write to.
    std::string temporary = file.string() + ".XXXXXX";
    FileDescriptor out(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!out)
        throw channelFileError("write", temporary,
                               SystemError{static_cast<std::uint32_t>(errno), std::strerror(errno)});
    if (!writeAll(out.get(), text.str())) {
        const SystemError error{static_cast<std::uint32_t>(errno), std::strerror(errno)};
        ::unlink(temporary.c_str());
        throw channelFileError("write", temporary, error);
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) {
        const SystemError error{static_cast<std::uint32_t>(errno), std::strerror(errno)};
        ::unlink(temporary.c_str());
        throw channelFileError("write", file, error);
    }
}

} // namespace ostrel::platform
