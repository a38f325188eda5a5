#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>

namespace ostrel {

// Keeps the active-block table and the firewall of one program in step: a block (its count, its
// row and its rule), a release (its transaction and its rule deletes) and a reconcile hold it for
// their whole work on the table and the firewall, so none of them sees the other half done.
// Other programs on the same tables are ordered by the database's row locks instead.
class FirewallLock {
public:
    // Steps at which an operation that holds the lock tells an observer where it stands.
    enum class Step {
        BlockCounted,     // a block has counted the address's active rows
        ReleaseCommitted, // a release has committed, its rule deletes are not queued yet
    };
    using StepObserver = std::function<void(Step)>;

    // Waits for the lock and holds it until the returned guard goes.
    std::unique_lock<std::mutex> hold() {
        {
            std::lock_guard state(m_stateMutex);
            ++m_waiting;
        }
        m_stateChanged.notify_all();
        std::unique_lock held(m_mutex);
        {
            std::lock_guard state(m_stateMutex);
            --m_waiting;
        }
        return held;
    }

    // Tests order a block and a release exactly with these: the observer runs on the
    // operation's thread, with the lock held, at each step.
    void observeSteps(StepObserver observer) {
        std::lock_guard state(m_stateMutex);
        m_observer = std::move(observer);
    }
    void reached(Step step) const {
        StepObserver observer;
        {
            std::lock_guard state(m_stateMutex);
            observer = m_observer;
        }
        if (observer)
            observer(step);
    }
    // Waits until `count` threads wait for the lock; false when the time ran out.
    bool waitForWaiters(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock state(m_stateMutex);
        return m_stateChanged.wait_for(state, timeout, [&] { return m_waiting >= count; });
    }

private:
    std::mutex m_mutex;
    mutable std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    std::size_t m_waiting = 0;
    StepObserver m_observer;
};

} // namespace ostrel
