#include "platform/FileReplace.h"

#include "common/Errors.h"
#include "platform/linux/FileDescriptor.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::platform {
namespace fs = std::filesystem;

namespace {

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

} // namespace

void replaceFileContent(const fs::path& file, std::string_view bytes) {
    struct stat old {};
    const bool exists = ::stat(file.c_str(), &old) == 0;

    // mkstemp creates the file with mode 0600, so the password is never readable by others.
    std::string name = file.string() + ".new-XXXXXX";
    FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));
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
    if (!writeAll(fd.get(), bytes))
        throw writeError(file, std::strerror(errno));
    // On disk before it takes the old file's place, or a crash could leave an empty file there.
    if (::fsync(fd.get()) != 0 || !fd.close())
        throw writeError(file, std::strerror(errno));
    if (::rename(pending.path().c_str(), file.c_str()) != 0)
        throw writeError(file, std::strerror(errno));
    pending.keep();
    // The rename itself reaches the disk with the folder's entry.
    FileDescriptor folder(
        ::open(file.parent_path().empty() ? "." : file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        ::fsync(folder.get());
}

} // namespace ostrel::platform
