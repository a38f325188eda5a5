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
    // Waits until `deadline`, a request or a wake, whichever comes first; true when a stop was requested.
    bool waitUntil(std::chrono::steady_clock::time_point deadline);
    // Ends the run loop's wait without asking it to stop: a watch of the event source asks for a
    // pass this way. Wakes that come while one is pending are one wake. Safe from any thread.
    void wake();
    // True once after wake() (the pending wake is taken).
    bool takeWake();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_requested = false;
    bool m_woken = false;
};

} // namespace ostrel
