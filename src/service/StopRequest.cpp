#include "service/StopRequest.h"

#include <utility>

namespace ostrel {

void StopRequest::request() {
    {
        std::lock_guard lock(m_mutex);
        m_requested = true;
    }
    m_changed.notify_all();
}

bool StopRequest::requested() const {
    std::lock_guard lock(m_mutex);
    return m_requested;
}

bool StopRequest::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    m_changed.wait_until(lock, deadline, [this] { return m_requested || m_woken; });
    return m_requested;
}

void StopRequest::wake() {
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_changed.notify_all();
}

bool StopRequest::takeWake() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_woken, false);
}

} // namespace ostrel
