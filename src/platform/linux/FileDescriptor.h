#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unistd.h>
#include <utility>

namespace ostrel::platform {

// Owns one open file descriptor and closes it on every path.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }

    void reset() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Closes now and tells whether that worked, so that a late write error can be seen.
    bool close() { return ::close(std::exchange(m_fd, -1)) == 0; }

private:
    int m_fd = -1;
};

// pread that goes on after a signal: the bytes read (0 at the end), or -1 with errno set.
inline ssize_t readAt(int fd, void* buffer, std::size_t length, std::uint64_t offset) {
    for (;;) {
        const ssize_t got = ::pread(fd, buffer, length, static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

// write of every byte, going on after a signal and a short write: false with errno set.
inline bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

} // namespace ostrel::platform
