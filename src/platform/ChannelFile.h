#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ostrel::platform {

// The operating system's own account of a failed file call: its code (errno, or GetLastError()
// on Windows) and the text the system gives for it.
struct SystemError {
    std::uint32_t code = 0;
    std::string text;
    bool notFound = false; // the file or a folder on its path does not exist
};

// One open channel file: the few file operations the channel source and its appender need, so
// that their logic is the same on every platform. Every call reports a failure through its
// SystemError and leaves raising to the caller, who knows which error the failure is.
class ChannelFile {
public:
    ChannelFile() = default;
    ~ChannelFile() { close(); }
    ChannelFile(ChannelFile&& other) noexcept : m_handle(std::exchange(other.m_handle, Closed)) {}
    ChannelFile& operator=(ChannelFile&& other) noexcept {
        if (this != &other) {
            close();
            m_handle = std::exchange(other.m_handle, Closed);
        }
        return *this;
    }
    ChannelFile(const ChannelFile&) = delete;
    ChannelFile& operator=(const ChannelFile&) = delete;

    // Opens an existing file to read; writers may go on appending meanwhile.
    bool openForReading(const std::filesystem::path& file, SystemError& error);
    // Opens the file to append, creating it when missing (readable by all, writable by its owner).
    bool openForAppending(const std::filesystem::path& file, SystemError& error);
    // Waits for and takes an exclusive lock of the whole file, held until it is closed.
    bool lockExclusive(SystemError& error);
    // Takes the same lock without waiting: false with `busy` set when another open file holds it
    // (in this process or any other), false with `busy` clear when the call failed.
    bool tryLockExclusive(bool& busy, SystemError& error);

    std::optional<std::uint64_t> size(SystemError& error) const;
    // Reads up to `length` bytes from `offset` on: the number read, 0 past the end.
    std::optional<std::size_t> readAt(std::uint64_t offset, char* buffer, std::size_t length, SystemError& error) const;
    // Writes all bytes at the end of the file.
    bool append(std::string_view bytes, SystemError& error);

    bool isOpen() const { return m_handle != Closed; }
    void close() noexcept;

    // The error for a file that ended before the size it had when reading began.
    static SystemError endedEarly();

private:
    static constexpr std::intptr_t Closed = -1; // a descriptor on Linux, a HANDLE on Windows
    std::intptr_t m_handle = Closed;
};

} // namespace ostrel::platform
