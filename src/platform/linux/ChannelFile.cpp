#include "platform/ChannelFile.h"

#include "platform/linux/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::platform {
namespace {

bool failed(SystemError& error) {
    const int code = errno;
    error = {static_cast<std::uint32_t>(code), std::strerror(code), code == ENOENT};
    return false;
}

int fdOf(std::intptr_t handle) {
    return static_cast<int>(handle);
}

} // namespace

void ChannelFile::close() noexcept {
    if (m_handle != Closed)
        ::close(fdOf(m_handle));
    m_handle = Closed;
}

bool ChannelFile::openForReading(const std::filesystem::path& file, SystemError& error) {
    close();
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come and holds the
    // pass for good; the type is checked on the open descriptor, so nothing can swap it between.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return failed(error);
    m_handle = fd;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        failed(error);
        close();
        return false;
    }
    if (S_ISDIR(status.st_mode)) {
        close();
        errno = EISDIR;
        return failed(error);
    }
    if (!S_ISREG(status.st_mode)) {
        close();
        // No errno says "not a regular file"; the event log's own code for it is ERROR_INVALID_DATA.
        error = {0x0D, "it is no regular file", false};
        return false;
    }
    return true;
}

bool ChannelFile::openForAppending(const std::filesystem::path& file, SystemError& error) {
    close();
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return failed(error);
    m_handle = fd;
    return true;
}

bool ChannelFile::lockExclusive(SystemError& error) {
    while (::flock(fdOf(m_handle), LOCK_EX) != 0) {
        if (errno != EINTR)
            return failed(error);
    }
    return true;
}

bool ChannelFile::tryLockExclusive(bool& busy, SystemError& error) {
    busy = false;
    while (::flock(fdOf(m_handle), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            busy = true;
            return false;
        }
        if (errno != EINTR)
            return failed(error);
    }
    return true;
}

std::optional<std::uint64_t> ChannelFile::size(SystemError& error) const {
    struct stat status {};
    if (::fstat(fdOf(m_handle), &status) != 0) {
        failed(error);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

std::optional<std::size_t> ChannelFile::readAt(std::uint64_t offset, char* buffer, std::size_t length,
                                               SystemError& error) const {
    const ssize_t got = platform::readAt(fdOf(m_handle), buffer, length, offset);
    if (got < 0) {
        failed(error);
        return std::nullopt;
    }
    return static_cast<std::size_t>(got);
}

bool ChannelFile::append(std::string_view bytes, SystemError& error) {
    if (!platform::writeAll(fdOf(m_handle), bytes))
        return failed(error);
    return true;
}

SystemError ChannelFile::endedEarly() {
    return {EIO, std::strerror(EIO), false};
}

} // namespace ostrel::platform
