#include "platform/WakeSignal.h"

#include "common/Errors.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ostrel::platform {

WakeSignal::WakeSignal() : m_handle(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (m_handle < 0)
        throw ESocketError(std::string("Could not create the honeypot's wake-up signal: ") + std::strerror(errno));
}

WakeSignal::~WakeSignal() {
    ::close(static_cast<int>(m_handle));
}

void WakeSignal::raise() noexcept {
    const std::uint64_t one = 1;
    // The counter cannot overflow from a handful of raises; a full counter would mean raised anyway.
    [[maybe_unused]] const auto written = ::write(static_cast<int>(m_handle), &one, sizeof one);
}

bool WakeSignal::raised() const {
    return waitFor(0);
}

bool WakeSignal::waitFor(int milliseconds) const {
    pollfd entry{static_cast<int>(m_handle), POLLIN, 0};
    int ready;
    do
        ready = ::poll(&entry, 1, milliseconds);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

} // namespace ostrel::platform
