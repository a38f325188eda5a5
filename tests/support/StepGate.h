#pragma once

#include "blocking/FirewallLock.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ostrel::test {

// Stops the first operation that reaches a step of the firewall lock (holding the lock) until
// the test opens the gate, so a test orders a block and a release exactly instead of by timing.
class StepGate {
public:
    StepGate(FirewallLock& lock, FirewallLock::Step step) : m_lock(lock) {
        m_lock.observeSteps([this, step](FirewallLock::Step reached) {
            if (reached == step)
                stopHere();
        });
    }
    ~StepGate() {
        open();
        m_lock.observeSteps({});
    }
    StepGate(const StepGate&) = delete;
    StepGate& operator=(const StepGate&) = delete;

    // Waits until an operation stands at the step; false when the time ran out.
    bool waitUntilStopped(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_stopped; });
    }
    // Lets the stopped operation, and every later one, go on.
    void open() {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_changed.notify_all();
    }

private:
    void stopHere() {
        std::unique_lock lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }

    FirewallLock& m_lock;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopped = false;
    bool m_open = false;
};

} // namespace ostrel::test
