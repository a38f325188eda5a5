#include "config/FileBytes.h"

#include "common/Errors.h"

#include <fstream>
#include <iterator>
#include <system_error>

#if defined(__unix__) || defined(__APPLE__)
#include "platform/linux/FileDescriptor.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include "platform/windows/FileReplace.h"
#endif

namespace ostrel {
namespace fs = std::filesystem;

namespace {

// The file a write replaces: the target of a symbolic link, so the link itself stays.
fs::path replacedFile(const fs::path& file) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(file, error)))
        return file;
    const fs::path target = fs::weakly_canonical(file, error);
    return error ? file : target;
}

#if defined(__unix__) || defined(__APPLE__)

EInOutError writeError(const fs::path& file, const std::string& cause) {
    return EInOutError("Cannot write " + file.string() + ": " + cause);
}

// Removes the new file unless it took the old one's place.
class PendingFile {
public:
    explicit PendingFile(fs::path path) : m_path(std::move(path)) {}
    ~PendingFile() {
        if (!m_kept) {
            std::error_code ignored;
            fs::remove(m_path, ignored);
        }
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    const fs::path& path() const { return m_path; }
    void keep() { m_kept = true; }

private:
    fs::path m_path;
    bool m_kept = false;
};

#endif
} // namespace

std::optional<std::string> readFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return std::nullopt;
    return bytes;
}

#if defined(__unix__) || defined(__APPLE__)

void writeFileBytes(const fs::path& file, std::string_view bytes) {
    const fs::path target = replacedFile(file);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;

    // mkstemp creates the file with mode 0600, so the password is never readable by others.
    std::string name = target.string() + ".new-XXXXXX";
    platform::FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd)
        throw writeError(file, std::strerror(errno));
    PendingFile pending(name);
    if (exists) {
        if (::fchmod(fd.get(), old.st_mode & 07777) != 0)
            throw writeError(file, std::strerror(errno));
        // Only root may give a file away; anyone else writes their own file, as before.
        if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM)
            throw writeError(file, std::strerror(errno));
    }
    for (std::string_view rest = bytes; !rest.empty();) {
        const ssize_t written = ::write(fd.get(), rest.data(), rest.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throw writeError(file, std::strerror(errno));
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
    // On disk before it takes the old file's place, or a crash could leave an empty file there.
    if (::fsync(fd.get()) != 0 || !fd.close())
        throw writeError(file, std::strerror(errno));
    if (::rename(pending.path().c_str(), target.c_str()) != 0)
        throw writeError(file, std::strerror(errno));
    pending.keep();
    // The rename itself reaches the disk with the folder's entry.
    platform::FileDescriptor folder(
        ::open(target.parent_path().empty() ? "." : target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        ::fsync(folder.get());
}

#else

void writeFileBytes(const fs::path& file, std::string_view bytes) {
    platform::replaceFileContent(replacedFile(file), bytes);
}

#endif

} // namespace ostrel
