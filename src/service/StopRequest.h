#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ostrel {

// The request to end the service. Whatever the platform takes as one (a signal, a console
// control event, the service manager's stop) calls request() from its own thread; the run
// loop waits on it between ticks, so a stop ends the wait at once but never cuts a pass short.
class StopRequest {
public:
    // Safe from any thread, not from a signal handler.
    void request();
    bool requested() const;
    // Waits until `deadline` or a request, whichever comes first; true when a stop was requested.
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_requested = false;
};

} // namespace ostrel
