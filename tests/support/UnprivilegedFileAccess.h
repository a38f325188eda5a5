#pragma once

#include <sys/fsuid.h>
#include <unistd.h>

namespace ostrel::test {

// While it lives, the calling thread's file accesses are checked as an unprivileged user's: a
// file-system user other than 0 loses root's override of file permissions, so a file without read
// (or a folder without write) permission refuses a test that runs as root as it refuses anyone.
class UnprivilegedFileAccess {
public:
    static constexpr uid_t Nobody = 65534;

    UnprivilegedFileAccess() : m_previous(static_cast<uid_t>(::setfsuid(Nobody))) {}
    ~UnprivilegedFileAccess() { ::setfsuid(m_previous); }
    UnprivilegedFileAccess(const UnprivilegedFileAccess&) = delete;
    UnprivilegedFileAccess& operator=(const UnprivilegedFileAccess&) = delete;

private:
    uid_t m_previous;
};

} // namespace ostrel::test
