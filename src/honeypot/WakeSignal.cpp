#include "honeypot/WakeSignal.h"

#include "common/Errors.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ostrel::honeypot {

WakeSignal::WakeSignal() : m_event(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_event.isOpen())
        throw ESocketError(std::string("Could not create the honeypot's wake-up signal: ") + std::strerror(errno));
}

void WakeSignal::raise() noexcept {
    const std::uint64_t one = 1;
    // The counter cannot overflow from a handful of raises; a full counter would mean raised anyway.
    [[maybe_unused]] const auto written = ::write(m_event.fd(), &one, sizeof one);
}

bool WakeSignal::raised() const {
    return waitFor(0);
}

bool WakeSignal::waitFor(int milliseconds) const {
    pollfd entry{m_event.fd(), POLLIN, 0};
    int ready;
    do
        ready = ::poll(&entry, 1, milliseconds);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

} // namespace ostrel::honeypot
