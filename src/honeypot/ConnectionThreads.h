#pragma once

#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

namespace ostrel::honeypot {

// The connection threads of one listener run: at most `limit` at a time, one per connection,
// each joined once it has ended. A listening thread reserves a slot before it accepts, so it
// accepts nothing while the limit is reached and later peers wait in the listen queue.
class ConnectionThreads {
public:
    explicit ConnectionThreads(int limit) : m_limit(limit) {}
    // Joins whatever is still running.
    ~ConnectionThreads();
    ConnectionThreads(const ConnectionThreads&) = delete;
    ConnectionThreads& operator=(const ConnectionThreads&) = delete;

    // Allows reservations again and starts a new count of the peak.
    void open();
    // Wakes every thread waiting for a slot; reservations fail from now on.
    void close();

    // Waits until a slot is free and takes it; false once closed.
    bool reserveSlot();
    void releaseSlot();
    // Runs `work` on a new thread that holds a reserved slot and frees it when `work` returns.
    // `work` must not throw. Raises std::system_error when no thread can be made; the slot
    // then stays reserved.
    void launch(std::function<void()> work);

    // Joins the threads that have ended (cheap when there are none).
    void joinEnded();
    // Waits for every thread launched so far to end.
    void joinAll();

    // The most slots taken at once since open().
    int peak() const;

private:
    using Handles = std::list<std::thread>;

    void finished(Handles::iterator handle) noexcept;

    const int m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_slotFreed;
    bool m_closed = true;
    int m_busy = 0;
    int m_peak = 0;
    // A thread moves its own handle from running to ended as it finishes; list nodes move
    // without allocating, so finishing cannot fail.
    Handles m_running;
    Handles m_ended;
};

} // namespace ostrel::honeypot
