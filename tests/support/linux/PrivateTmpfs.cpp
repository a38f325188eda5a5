#include "support/linux/PrivateTmpfs.h"

#include "platform/linux/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sched.h>
#include <stdexcept>
#include <sys/mount.h>
#include <thread>
#include <unistd.h>

namespace ostrel::test {

std::optional<std::string> runOnPrivateTmpfs(const std::filesystem::path& folder, std::size_t bytes,
                                             const std::function<void()>& fn) {
    std::optional<std::string> unavailable;
    std::exception_ptr failure;
    std::thread worker([&] {
        // CLONE_FS gives this thread file-system attributes of its own, which a thread needs
        // before it may take a mount namespace of its own.
        if (::unshare(CLONE_FS | CLONE_NEWNS) != 0) {
            unavailable = std::string("no private mount namespace: ") + std::strerror(errno);
            return;
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            unavailable = std::string("cannot make the mounts private: ") + std::strerror(errno);
            return;
        }
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            unavailable = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        try {
            fn();
        } catch (...) {
            failure = std::current_exception();
        }
        ::umount2(folder.c_str(), MNT_DETACH);
    });
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return unavailable;
}

void fillFileSystem(const std::filesystem::path& folder) {
    const auto file = folder / "filler";
    platform::FileDescriptor fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd)
        throw std::runtime_error("cannot create " + file.string() + ": " + std::strerror(errno));
    const std::string block(4096, 'f');
    for (;;) {
        const ssize_t written = ::write(fd.get(), block.data(), block.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == ENOSPC)
            return;
        if (written <= 0)
            throw std::runtime_error("cannot fill " + folder.string() + ": " + std::strerror(errno));
    }
}

} // namespace ostrel::test
