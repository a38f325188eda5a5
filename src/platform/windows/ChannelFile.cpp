#include "platform/ChannelFile.h"

#include "platform/windows/SystemErrors.h"
#include "platform/windows/WindowsApi.h"

#include <algorithm>

namespace ostrel::platform {
namespace {

HANDLE handleOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool failed(SystemError& error, DWORD code = ::GetLastError()) {
    error = {code, systemMessage(code), code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND};
    return false;
}

// Windows locks are mandatory: a locked range cannot be read through other handles. The lock
// therefore covers one byte far beyond any real file, so readers never wait for writers, while
// writers still take turns, as with an advisory lock.
constexpr ULONGLONG LockOffset = 0x7FFF'FFFF'FFFF'FFF0ull;

OVERLAPPED at(ULONGLONG offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFF'FFFFull);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

} // namespace

void ChannelFile::close() noexcept {
    if (m_handle != Closed)
        ::CloseHandle(handleOf(m_handle));
    m_handle = Closed;
}

bool ChannelFile::openForReading(const std::filesystem::path& file, SystemError& error) {
    close();
    const HANDLE handle =
        ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        // Windows says "path not found" also when the folder is a file; that is no missing channel.
        std::error_code ignored;
        const auto folder = file.parent_path();
        if (code == ERROR_PATH_NOT_FOUND && std::filesystem::exists(folder, ignored) &&
            !std::filesystem::is_directory(folder, ignored))
            return failed(error, ERROR_DIRECTORY);
        return failed(error, code);
    }
    m_handle = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

bool ChannelFile::openForAppending(const std::filesystem::path& file, SystemError& error) {
    close();
    // Append access without write access: every write lands at the end of the file.
    const HANDLE handle = ::CreateFileW(file.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return failed(error);
    m_handle = reinterpret_cast<std::intptr_t>(handle);
    return true;
}

bool ChannelFile::lockExclusive(SystemError& error) {
    OVERLAPPED range = at(LockOffset);
    if (!::LockFileEx(handleOf(m_handle), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range))
        return failed(error);
    return true;
}

bool ChannelFile::tryLockExclusive(bool& busy, SystemError& error) {
    busy = false;
    OVERLAPPED range = at(LockOffset);
    if (::LockFileEx(handleOf(m_handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range))
        return true;
    const DWORD code = ::GetLastError();
    busy = code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING;
    return busy ? false : failed(error, code);
}

std::optional<std::uint64_t> ChannelFile::size(SystemError& error) const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handleOf(m_handle), &size)) {
        failed(error);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::size_t> ChannelFile::readAt(std::uint64_t offset, char* buffer, std::size_t length,
                                               SystemError& error) const {
    OVERLAPPED position = at(offset);
    DWORD got = 0;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(length, 0x4000'0000u));
    if (!::ReadFile(handleOf(m_handle), buffer, wanted, &got, &position)) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_HANDLE_EOF)
            return 0;
        failed(error, code);
        return std::nullopt;
    }
    return static_cast<std::size_t>(got);
}

bool ChannelFile::append(std::string_view bytes, SystemError& error) {
    while (!bytes.empty()) {
        // Offset all ones: write at the end of the file, whatever the handle's position.
        OVERLAPPED end{};
        end.Offset = 0xFFFF'FFFFu;
        end.OffsetHigh = 0xFFFF'FFFFu;
        DWORD written = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x4000'0000u));
        if (!::WriteFile(handleOf(m_handle), bytes.data(), chunk, &written, &end))
            return failed(error);
        bytes.remove_prefix(written);
    }
    return true;
}

SystemError ChannelFile::endedEarly() {
    return {ERROR_HANDLE_EOF, systemMessage(ERROR_HANDLE_EOF), false};
}

} // namespace ostrel::platform
