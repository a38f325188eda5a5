#include "config/FileBytes.h"

#include <fstream>
#include <iterator>

#if defined(__unix__) || defined(__APPLE__)
#include "platform/linux/FileDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace ostrel {

std::optional<std::string> readFileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return std::nullopt;
    return bytes;
}

#if defined(__unix__) || defined(__APPLE__)

namespace {} // namespace

bool writeFileBytes(const std::filesystem::path& file, std::string_view bytes) {
    // The mode given to open applies only when the file is created, so the password never
    // sits in a file that others could have opened before its permissions were narrowed.
    platform::FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return false;
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd.get(), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return fd.close();
}

#else

bool writeFileBytes(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

#endif

} // namespace ostrel
